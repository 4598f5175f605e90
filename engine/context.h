// The context of a data line (where it stands in the repository) and the one
// table of its fields: the name a context map gives each, the log's label,
// the JSON key and the page's group. Which elements of a table name context.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Where the current data line stands in the repository. Filled by the
// scanner, read when a match is written.
struct ScanContext {
    std::string current_library;
    std::string current_form;
    std::string current_global;
    std::string current_entryname;
    std::string current_menubar;
    std::string current_glyph;
    std::string current_sourcetype;
    std::string current_model;
    std::string current_table;
    std::string current_field;
    std::string current_trigger;  // name of the current (or last) element
    std::string current_formdesc;
    std::string current_fielddesc;
    std::int64_t trigger_line = 0;  // line number within the current element
};

// Where a field shows on the page: in the component's group, in the table's
// and field's, as the element, or nowhere.
enum class PageGroup { Component, TableAndField, Element, None };

struct ContextField {
    std::string_view map_name;  // the context name the tables' maps give it ("" for the element's)
    std::string ScanContext::*value;
    std::string_view label;     // in a log line, before its value
    std::string_view key;       // in JSON and in --in ("" for none)
    PageGroup group;
};

// In the order a log line names them, the element last of those shown; the
// two descriptions are filled and cleared like the others but never shown.
inline constexpr std::array<ContextField, 13> kContextFields = {{
    {"LIBRARYNAME", &ScanContext::current_library, "Library:", "library", PageGroup::Component},
    {"FORMNAME", &ScanContext::current_form, "Form:", "form", PageGroup::Component},
    {"GLOBALNAME", &ScanContext::current_global, "Global:", "global", PageGroup::Component},
    {"ENTRYNAME", &ScanContext::current_entryname, "Entry:", "entry", PageGroup::Component},
    {"MENUBARNAME", &ScanContext::current_menubar, "Menubar:", "menubar", PageGroup::Component},
    {"GLYPHNAME", &ScanContext::current_glyph, "Glyph:", "glyph", PageGroup::Component},
    {"SOURCETYPE", &ScanContext::current_sourcetype, "Sourcetype:", "sourcetype", PageGroup::Component},
    {"MODELNAME", &ScanContext::current_model, "Model:", "model", PageGroup::TableAndField},
    {"TABLENAME", &ScanContext::current_table, "Table:", "table", PageGroup::TableAndField},
    {"FIELDNAME", &ScanContext::current_field, "Field:", "field", PageGroup::TableAndField},
    {"", &ScanContext::current_trigger, "Trigger:", "element", PageGroup::Element},
    {"FORMDESC", &ScanContext::current_formdesc, "", "", PageGroup::None},
    {"FIELDDESC", &ScanContext::current_fielddesc, "", "", PageGroup::None},
}};

// The element's row; the rows before it are the context proper (JSON's
// "context").
inline constexpr std::size_t kElementField = 10;
// The fields a log line, the limits and the page show: the element's and
// those before it.
inline constexpr std::size_t kShownContextFields = kElementField + 1;

void ClearContext(ScanContext& c);

// Whether an element names context, by table row and element name, for
// names met before: a table has few element names, met over and over.
struct ContextEntry {
    int row = -1;
    std::string name;
    bool context = false;
    int field = -1;  // the field (an index of kContextFields) it fills, -1 for none
};
using ContextCache = std::array<ContextEntry, 128>;

// Whether element `folded_name` of table `row` names context: its name
// stands anywhere in the row's map, as text. `field` learns the field it
// fills, -1 when its context name is none of the known ones or cannot be
// delimited (such a value is dropped).
bool NamesContext(ContextCache& cache, int row, std::string_view folded_name, int& field);

// Where an element named `folded_name` is taken for a context element by a
// part of a name of the row's map ("LABEL" in "ULABEL=TABLENAME"): the map's
// name it stands in. Empty for a name the map holds whole, or not at all.
std::string_view ContextNameHolding(int row, std::string_view folded_name);
