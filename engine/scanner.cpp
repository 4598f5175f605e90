// The export scanner. Tags are found by substring search in an upper-cased
// copy of the line, not by parsing XML: the export's layout is fixed and the
// search must keep going over anything it holds.
#include "scanner.h"

#include <array>
#include <cstring>

#include "match_log.h"

namespace {

struct TableRow {
    std::string_view level1;        // table tag
    std::string_view level3;        // element prefix
    std::string_view context_map4;  // element name = context name, ...
};

constexpr std::array<TableRow, 11> kTables = {{
    {"<TABLE XMLNS:UXGROUP", "<UXGROUP:", "ULABEL=TABLENAME, UBASE=MODELNAME, UFORM=FORMNAME,"},
    {"<TABLE XMLNS:UFORM", "<UFORM:", "ULABEL=FORMNAME, UDESCR=FORMDESC,"},
    {"<TABLE XMLNS:UXFIELD", "<UXFIELD:",
     "ULABEL=FIELDNAME, GRP=TABLENAME, UBASE=MODELNAME, UFORM=FORMNAME,"},
    {"<TABLE XMLNS:UXREGS", "<UXREGS:", "U_FORMLIB=FORMNAME, U_NAME=FIELDNAME, UDESCR=FIELDDESC,"},
    {"<TABLE XMLNS:USOURCE", "<USOURCE:", "USUB=SOURCETYPE, UVAR=LIBRARYNAME, ULABEL=ENTRYNAME,"},
    {"<TABLE XMLNS:ULIBR", "<ULIBR:", "ULIBRARY=LIBRARYNAME,"},
    {"<TABLE XMLNS:UGREGS", "<UGREGS:", "U_FORMLIB=LIBRARYNAME, U_NAME=GLOBALNAME,"},
    {"<TABLE XMLNS:USMENU", "<USMENU:", "UMENU=MENUBARNAME, UVAR=LIBRARYNAME,"},
    {"<TABLE XMLNS:USITEM", "<USITEM:", "UMENU=MENUBARNAME, UVAR=LIBRARYNAME,"},
    {"<TABLE XMLNS:UGLYPH", "<UGLYPH:", "UCLABEL=GLYPHNAME, UCVAR=LIBRARYNAME,"},
    {"<TABLE XMLNS:UFORMAT", "<UFORMAT:", "XXX=XXX,"},
}};

// UFORMAT before UFORM: the UFORM table tag is a prefix of the UFORMAT one.
constexpr std::array<int, 11> kRowOrder = {0, 10, 1, 2, 3, 4, 5, 6, 7, 8, 9};

constexpr std::string_view end_level1 = "</TABLE>";
constexpr std::string_view level2 = "<OCC>";
constexpr std::string_view end_level2 = "</OCC>";

constexpr std::size_t npos = std::string_view::npos;

// The context field a context name fills, or none.
std::string* ContextField(ScanContext& c, std::string_view name) {
    struct Entry {
        std::string_view name;
        std::string ScanContext::*field;
    };
    static constexpr Entry kFields[] = {
        {"FORMNAME", &ScanContext::current_form},
        {"MODELNAME", &ScanContext::current_model},
        {"TABLENAME", &ScanContext::current_table},
        {"FIELDNAME", &ScanContext::current_field},
        {"FORMDESC", &ScanContext::current_formdesc},
        {"FIELDDESC", &ScanContext::current_fielddesc},
        {"SOURCETYPE", &ScanContext::current_sourcetype},
        {"LIBRARYNAME", &ScanContext::current_library},
        {"GLOBALNAME", &ScanContext::current_global},
        {"ENTRYNAME", &ScanContext::current_entryname},
        {"MENUBARNAME", &ScanContext::current_menubar},
        {"GLYPHNAME", &ScanContext::current_glyph},
    };
    for (const Entry& e : kFields)
        if (e.name == name) return &(c.*e.field);
    return nullptr;
}

void ClearContext(ScanContext& c) {
    for (std::string* f :
         {&c.current_library, &c.current_form, &c.current_global, &c.current_entryname,
          &c.current_menubar, &c.current_glyph, &c.current_sourcetype, &c.current_model,
          &c.current_table, &c.current_field, &c.current_trigger, &c.current_formdesc,
          &c.current_fielddesc})
        f->clear();
}

// Whether the current element names context in its table's map. When it
// does, `*field` is the field it fills, or null when its context name is none
// of the known ones (or cannot be delimited): such a value is dropped.
bool IsContextElement(const RunState& run, ScanContext& c, std::string** field) {
    std::string_view map = kTables[run.scanner.selected_row].context_map4;
    std::string_view name = run.scanner.selected_level4;
    std::size_t at = map.find(name);
    if (at == npos) return false;
    *field = nullptr;
    std::size_t start = at + name.size() + 1;  // one past the "="
    if (start > map.size()) return true;
    std::size_t comma = map.find(',', start);
    if (comma == npos) return true;
    *field = ContextField(c, map.substr(start, comma - start));
    return true;
}

void EndElement(ScannerState& s) {
    s.selected_level4.clear();
    s.end_level4.clear();
    s.next_level = 3;
}

// The element's data on the line of its end tag (or of a self-closing tag):
// stored when it names context, searched otherwise. Returns whether the rest
// of the line goes on being scanned.
bool CloseElement(RunState& run, std::string_view dataline) {
    std::string* field = nullptr;
    bool context = IsContextElement(run, run.context, &field);
    if (context) {
        if (field) field->assign(dataline);
    } else {
        ProcessMatches(run, dataline, run.context.trigger_line);
    }
    EndElement(run.scanner);
    return context;
}

// Upper-cases a to z only; every other byte stays as it is.
constexpr std::array<unsigned char, 256> kUpper = [] {
    std::array<unsigned char, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[i] = static_cast<unsigned char>(i >= 'a' && i <= 'z' ? i - 'a' + 'A' : i);
    return t;
}();

bool IsTrailingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

void ProcessStream(RunState& run, std::string_view input) {
    ScannerState& s = run.scanner;
    ScanContext& c = run.context;

    // The line up to its first zero byte, upper-cased, without trailing blanks.
    if (const void* nul = std::memchr(input.data(), '\0', input.size()))
        input = input.substr(0, static_cast<const char*>(nul) - input.data());
    while (!input.empty() && IsTrailingSpace(input.back())) input.remove_suffix(1);
    if (input.empty()) return;
    s.process_line.resize(input.size());
    char* upper = s.process_line.data();
    for (std::size_t i = 0; i < input.size(); ++i)
        upper[i] = static_cast<char>(kUpper[static_cast<unsigned char>(input[i])]);
    std::string_view line(upper, input.size());

    while (!line.empty()) {
        switch (s.next_level) {
        case 1: {
            bool opened = false;
            for (int row : kRowOrder) {
                if (line.find(kTables[row].level1) != npos) {
                    s.selected_row = row;
                    s.selected_level1 = kTables[row].level1;
                    s.selected_level3 = kTables[row].level3;
                    s.next_level = 2;  // the same text is examined again there
                    opened = true;
                    break;
                }
            }
            if (!opened) line = {};
            break;
        }
        case 2: {
            std::size_t at;
            if ((at = line.find(level2)) != npos) {
                line.remove_prefix(at + level2.size());
                ClearContext(c);
                s.next_level = 3;
            } else if ((at = line.find(end_level1)) != npos) {
                s.selected_level1 = {};
                line.remove_prefix(at + end_level1.size());
                s.next_level = 1;
            } else {
                line = {};
            }
            break;
        }
        case 3: {
            std::size_t at;
            if ((at = line.find(s.selected_level3)) != npos) {
                std::string_view rest = line.substr(at + s.selected_level3.size());
                std::size_t close = rest.find('>');
                if (close == npos) {  // no name can be delimited: nothing opens
                    line = {};
                    break;
                }
                std::string_view tag = rest.substr(0, close);
                std::string_view name = tag.substr(0, tag.find_first_of(" \t\r\n\v\f/"));
                s.selected_level4.assign(name);
                c.current_trigger.assign(name);
                c.trigger_line = 0;
                s.end_level4.assign("</");
                s.end_level4.append(s.selected_level3.substr(1));
                s.end_level4.append(name);
                s.end_level4.push_back('>');
                s.next_level = 4;
                line = rest.substr(close + 1);
                if (!tag.empty() && tag.back() == '/') {
                    // Self-closing: the element opens and ends here, its data
                    // an empty line 1.
                    c.trigger_line = 1;
                    if (!CloseElement(run, {})) line = {};
                }
            } else if ((at = line.find(end_level2)) != npos) {
                line.remove_prefix(at + end_level2.size());
                s.next_level = 2;
            } else {
                line = {};
            }
            break;
        }
        default: {  // 4: inside an element
            ++c.trigger_line;
            std::size_t at = line.find(s.end_level4);
            if (at == npos) {
                ProcessMatches(run, line, c.trigger_line);
                line = {};
                break;
            }
            std::string_view dataline = line.substr(0, at);
            std::string_view rest = line.substr(at + s.end_level4.size());
            line = CloseElement(run, dataline) ? rest : std::string_view{};
            break;
        }
        }
    }
}
