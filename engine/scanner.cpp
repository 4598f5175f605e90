// The export scanner. Tags are found by substring search with letters compared
// as upper case, not by parsing XML: the export's layout is fixed and the
// search must keep going over anything it holds.
#include "scanner.h"

#include <array>
#include <cstring>

#include "match_log.h"
#include "matcher.h"

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

// The first place where `tag` (upper case, starting with "<") stands in the
// line, letters compared as upper case.
std::size_t FindTag(std::string_view line, std::string_view tag) {
    const char* p = line.data();
    const char* end = p + line.size();
    while (static_cast<std::size_t>(end - p) >= tag.size()) {
        const void* lt = std::memchr(p, '<', static_cast<std::size_t>(end - p) - tag.size() + 1);
        if (!lt) return npos;
        p = static_cast<const char*>(lt);
        std::size_t j = 1;
        while (j < tag.size() && Fold(p[j]) == static_cast<unsigned char>(tag[j])) ++j;
        if (j == tag.size()) return static_cast<std::size_t>(p - line.data());
        ++p;
    }
    return npos;
}

void AssignFolded(std::string& out, std::string_view text) {
    out.resize(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) out[i] = static_cast<char>(Fold(text[i]));
}


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
bool IsContextElement(RunState& run, std::string** field) {
    std::string_view map = kTables[run.scanner.selected_row].context_map4;
    std::string_view name = run.scanner.selected_level4;
    std::size_t at = map.find(name);
    if (at == npos) return false;
    *field = nullptr;
    std::size_t start = at + name.size() + 1;  // one past the "="
    if (start > map.size()) return true;
    std::size_t comma = map.find(',', start);
    if (comma == npos) return true;
    *field = ContextField(run.context, map.substr(start, comma - start));
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
bool CloseElement(RunState& run, std::string_view dataline, bool may_match) {
    std::string* field = nullptr;
    bool context = IsContextElement(run, &field);
    if (context) {
        if (field) AssignFolded(*field, dataline);
    } else if (may_match) {
        ProcessMatches(run, dataline, run.context.trigger_line);
    }
    EndElement(run.scanner);
    return context;
}

bool IsTrailingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

void ProcessStream(RunState& run, std::string_view input, const LineFacts& facts) {
    ScannerState& s = run.scanner;
    ScanContext& c = run.context;

    // The line up to its first zero byte, without trailing blanks. Letters
    // are compared and stored as upper case; the bytes are not copied.
    if (facts.may_hold_zero) {
        if (const void* nul = std::memchr(input.data(), '\0', input.size()))
            input = input.substr(0, static_cast<const char*>(nul) - input.data());
    }
    while (!input.empty() && IsTrailingSpace(input.back())) input.remove_suffix(1);
    if (input.empty()) return;
    std::string_view line = input;

    // Without a "<" nothing opens or closes: outside an element the line is
    // consumed, inside it is one more line of data.
    if (!facts.may_hold_tag) {
        if (s.next_level == 4) {
            ++c.trigger_line;
            if (facts.may_match) ProcessMatches(run, line, c.trigger_line);
        }
        return;
    }

    while (!line.empty()) {
        switch (s.next_level) {
        case 1: {
            bool opened = false;
            for (int row : kRowOrder) {
                if (FindTag(line, kTables[row].level1) != npos) {
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
            if ((at = FindTag(line, level2)) != npos) {
                line.remove_prefix(at + level2.size());
                ClearContext(c);
                s.next_level = 3;
            } else if ((at = FindTag(line, end_level1)) != npos) {
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
            if ((at = FindTag(line, s.selected_level3)) != npos) {
                std::string_view rest = line.substr(at + s.selected_level3.size());
                std::size_t close = rest.find('>');
                if (close == npos) {  // no name can be delimited: nothing opens
                    line = {};
                    break;
                }
                std::string_view tag = rest.substr(0, close);
                std::string_view name = tag.substr(0, tag.find_first_of(" \t\r\n\v\f/"));
                AssignFolded(s.selected_level4, name);
                c.current_trigger = s.selected_level4;
                c.trigger_line = 0;
                s.end_level4.assign("</");
                s.end_level4.append(s.selected_level3.substr(1));
                s.end_level4.append(s.selected_level4);
                s.end_level4.push_back('>');
                s.next_level = 4;
                line = rest.substr(close + 1);
                if (!tag.empty() && tag.back() == '/') {
                    // Self-closing: the element opens and ends here, its data
                    // an empty line 1.
                    c.trigger_line = 1;
                    if (!CloseElement(run, {}, facts.may_match)) line = {};
                }
            } else if ((at = FindTag(line, end_level2)) != npos) {
                line.remove_prefix(at + end_level2.size());
                s.next_level = 2;
            } else {
                line = {};
            }
            break;
        }
        default: {  // 4: inside an element
            ++c.trigger_line;
            std::size_t at = FindTag(line, s.end_level4);
            if (at == npos) {
                if (facts.may_match) ProcessMatches(run, line, c.trigger_line);
                line = {};
                break;
            }
            std::string_view dataline = line.substr(0, at);
            std::string_view rest = line.substr(at + s.end_level4.size());
            line = CloseElement(run, dataline, facts.may_match) ? rest : std::string_view{};
            break;
        }
        }
    }
}
