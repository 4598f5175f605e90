// The export scanner. Tags are found by substring search with letters compared
// as upper case, not by parsing XML: the export's layout is fixed and the
// search must keep going over anything it holds.
#include "scanner.h"

#include <array>
#include <bit>
#include <cstring>

#include "line_reader.h"
#include "marks.h"
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
constexpr std::string_view kTableStart = "<TABLE XMLNS:";  // what every table tag starts with
constexpr std::string_view level2 = "<OCC>";
constexpr std::string_view end_level2 = "</OCC>";

constexpr std::size_t npos = std::string_view::npos;

// The bytes that end an element's name in its start tag, its ">" included.
constexpr std::array<bool, 256> kEndsName = [] {
    std::array<bool, 256> t{};
    for (unsigned char c : std::string_view(" \t\r\n\v\f/>")) t[c] = true;
    return t;
}();

// Whether the text at p is `upper` with letters compared as upper case,
// eight or four bytes at a time. The caller knows upper.size() bytes are
// there.
[[gnu::always_inline]] inline bool SameFolded(const char* p, std::string_view upper) {
    const std::size_t n = upper.size();
    if (n < 8) {
        if (n >= 4) {  // the first four bytes and the last four, which may overlap
            std::uint32_t a, b, c, d;
            std::memcpy(&a, p, 4);
            std::memcpy(&b, upper.data(), 4);
            std::memcpy(&c, p + n - 4, 4);
            std::memcpy(&d, upper.data() + n - 4, 4);
            return (a == b || FoldBytes(a) == b) && (c == d || FoldBytes(c) == d);  // tags mostly stand as written
        }
        std::size_t j = 0;
        while (j < n && Fold(p[j]) == static_cast<unsigned char>(upper[j])) ++j;
        return j == n;
    }
    for (std::size_t j = 0; j + 8 < n; j += 8) {
        const std::uint64_t x = Load8(p + j), u = Load8(upper.data() + j);
        if (x != u && FoldWord(x) != u) return false;
    }
    const std::uint64_t x = Load8(p + n - 8), u = Load8(upper.data() + n - 8);
    return x == u || FoldWord(x) == u;
}

// Whether the n bytes at p and q are the same, for short n: in words, not
// through a call.
[[gnu::always_inline]] inline bool SameBytes(const char* p, const char* q, std::size_t n) {
    if (n >= 8) {
        for (std::size_t j = 0; j + 8 < n; j += 8)
            if (Load8(p + j) != Load8(q + j)) return false;
        return Load8(p + n - 8) == Load8(q + n - 8);
    }
    if (n >= 4) {
        std::uint32_t a, b, c, d;
        std::memcpy(&a, p, 4);
        std::memcpy(&b, q, 4);
        std::memcpy(&c, p + n - 4, 4);
        std::memcpy(&d, q + n - 4, 4);
        return a == b && c == d;
    }
    for (std::size_t j = 0; j < n; ++j)
        if (p[j] != q[j]) return false;
    return true;
}

// Whether `tag` stands at p (its "<" there). The caller knows tag.size()
// bytes are there.
[[gnu::always_inline]] inline bool TagAt(const char* p, std::string_view tag) { return SameFolded(p, tag); }

// The length of the element name at the start of `text`: up to a blank, a
// "/" or a ">".
std::size_t NameLength(std::string_view text) {
    std::size_t i = 0;
#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
    typedef char Bytes __attribute__((vector_size(16)));  // as the builtin takes it
    for (; i + 16 <= text.size(); i += 16) {
        Bytes v;
        std::memcpy(&v, text.data() + i, sizeof v);
        // Bytes from 0x80 up compare as negative: none of them ends a name.
        const Bytes ends = (Bytes)((v == ' ') | (v == '/') | (v == '>') | ((v > 8) & (v < 14)));
        if (const int found = __builtin_ia32_pmovmskb128(ends)) return i + static_cast<std::size_t>(__builtin_ctz(found));
    }
#endif
    while (i < text.size() && !kEndsName[static_cast<unsigned char>(text[i])]) ++i;
    return i;
}

// The first place where `tag` (upper case, starting with "<") stands in the
// line, letters compared as upper case. The "<" are taken from the marks
// when there are some.
std::size_t FindTag(std::string_view line, std::string_view tag, const LineFacts& facts) {
    if (line.size() < tag.size()) return npos;
    const std::size_t last = line.size() - tag.size();  // the last place it may start
    if (facts.tag_marks) {
        const std::size_t base = static_cast<std::size_t>(line.data() - facts.marks_base);
        for (std::size_t at = base, to = base + last + 1;; ++at) {
            at = NextMark(facts.tag_marks, at, to);
            if (at == to) return npos;
            if (TagAt(facts.marks_base + at, tag)) return at - base;
        }
    }
    const char* p = line.data();
    const char* end = p + last + 1;
    while (p < end) {
        const void* lt = std::memchr(p, '<', static_cast<std::size_t>(end - p));
        if (!lt) return npos;
        p = static_cast<const char*>(lt);
        if (TagAt(p, tag)) return static_cast<std::size_t>(p - line.data());
        ++p;
    }
    return npos;
}

void AssignFolded(std::string& out, std::string_view text) {
    out.resize(text.size());
    FoldInto(out.data(), text);
}


// The context fields, by the context names of the tables' maps.
struct ContextName {
    std::string_view name;
    std::string ScanContext::*field;
};
constexpr ContextName kContextFields[] = {
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

// The index of the context field a context name fills, or -1.
int ContextField(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kContextFields); ++i)
        if (kContextFields[i].name == name) return static_cast<int>(i);
    return -1;
}

void ClearContext(ScanContext& c) {
    for (std::string* f :
         {&c.current_library, &c.current_form, &c.current_global, &c.current_entryname,
          &c.current_menubar, &c.current_glyph, &c.current_sourcetype, &c.current_model,
          &c.current_table, &c.current_field, &c.current_trigger, &c.current_formdesc,
          &c.current_fielddesc})
        f->clear();
}

// Whether element `name` names context in table `row`'s map, and the field
// it fills (-1 when its context name is none of the known ones or cannot be
// delimited: such a value is dropped). The name is looked for anywhere in
// the map, as text.
bool LookUpContext(int row, std::string_view name, int& field) {
    std::string_view map = kTables[row].context_map4;
    std::size_t at = map.find(name);
    field = -1;
    if (at == npos) return false;
    std::size_t start = at + name.size() + 1;  // one past the "="
    if (start > map.size()) return true;
    std::size_t comma = map.find(',', start);
    if (comma == npos) return true;
    field = ContextField(map.substr(start, comma - start));
    return true;
}

// Whether element `name` of the current table names context; `*field` as
// LookUpContext gives it, as the context field itself or null. Answers are
// kept by row and name.
bool ElementNamesContext(RunState& run, std::string_view name, std::string** field) {
    ScannerState& s = run.scanner;
    // A slot by the row, the length and the two ends of the name: names that
    // share one only take turns in it.
    std::size_t hash = static_cast<std::size_t>(s.selected_row) * 31 + name.size() * 7;
    if (!name.empty())
        hash += static_cast<unsigned char>(name.front()) * 5u + static_cast<unsigned char>(name.back()) * 3u +
                static_cast<unsigned char>(name[name.size() / 2]);
    ContextEntry& entry = run.context_cache[hash % run.context_cache.size()];
    if (entry.row != s.selected_row || !SameText(entry.name, name)) {
        entry.row = s.selected_row;
        entry.name = name;
        entry.context = LookUpContext(s.selected_row, name, entry.field);
    }
    *field = entry.field < 0 ? nullptr : &(run.context.*kContextFields[entry.field].field);
    return entry.context;
}

void EndElement(ScannerState& s) {
    s.selected_level4.clear();
    s.end_level4.clear();
    s.next_level = 3;
}

// The element's data on the line of its end tag (or of a self-closing tag):
// stored when it names context, searched otherwise (neither when the context
// is not kept). Returns whether the rest of the line goes on being scanned.
template <bool kContext>
bool CloseElement(RunState& run, std::string_view dataline, bool may_match) {
    std::string* field = nullptr;
    bool context = ElementNamesContext(run, run.scanner.selected_level4, &field);
    if constexpr (kContext) {
        if (context) {
            if (field) AssignFolded(*field, dataline);
        } else if (may_match) {
            ProcessMatches(run, dataline, run.context.trigger_line);
        }
    }
    EndElement(run.scanner);
    return context;
}

// Whether `text` holds the end tag of the element `folded_name` of the
// current table at `at` ("<" there), letters compared as upper case.
bool EndTagAt(const char* p, std::size_t room, std::string_view level3, std::string_view folded_name) {
    const std::size_t n = 2 + (level3.size() - 1) + folded_name.size() + 1;
    if (room < n || p[1] != '/') return false;
    return SameFolded(p + 2, level3.substr(1)) && SameFolded(p + 1 + level3.size(), folded_name) && p[n - 1] == '>';
}

// The element that the start tag `tag` (its name `name`) opens, when its end
// tag follows on the same line: handled whole here, leaving the state as
// opening it, one line of data and closing it would. `after` is the text
// after the start tag; `line` becomes what is left to scan. False, with
// nothing changed, when the element goes on past the line (or the tag closes
// itself).
template <bool kContext>
bool ClosesOnTheSameLine(RunState& run, std::string_view after, std::string_view name, std::string_view tag,
                         const LineFacts& facts, std::string_view& line) {
    if (!facts.tag_marks || (!tag.empty() && tag.back() == '/')) return false;
    ScannerState& s = run.scanner;
    ScanContext& c = run.context;
    // The first end tag in `after`, found from the marks of "<". The name is
    // upper-cased where the element's name goes, or (without the context)
    // aside.
    const std::size_t base = static_cast<std::size_t>(after.data() - facts.marks_base);
    const std::size_t to = base + after.size();
    std::size_t at = base;
    std::string aside;
    std::string& folded = kContext ? c.current_trigger : aside;
    AssignFolded(folded, name);
    for (;; ++at) {
        at = NextMark(facts.tag_marks, at, to);
        if (at == to) return false;  // current_trigger is set again by the caller
        if (EndTagAt(facts.marks_base + at, to - at, s.selected_level3, folded)) break;
    }
    std::string_view dataline = after.substr(0, at - base);
    std::string_view rest = after.substr(at - base + 2 + s.selected_level3.size() + folded.size());
    // As CloseElement, with the element's name where it would be.
    std::string* field = nullptr;
    if constexpr (kContext) c.trigger_line = 1;
    if (ElementNamesContext(run, folded, &field)) {
        if constexpr (kContext)
            if (field) AssignFolded(*field, dataline);
        line = rest;
    } else {
        if constexpr (kContext)
            if (facts.may_match) ProcessMatches(run, dataline, c.trigger_line);
        line = {};
    }
    return true;
}

}  // namespace

int TableOpened(std::string_view line, const LineFacts& facts) {
    for (int row : kRowOrder)
        if (FindTag(line, kTables[row].level1, facts) != npos) return row;
    return -1;
}

namespace {

// The line up to its first zero byte, without trailing blanks.
std::string_view Trimmed(std::string_view input, const LineFacts& facts) {
    if (facts.may_hold_zero) {
        if (const void* nul = std::memchr(input.data(), '\0', input.size()))
            input = input.substr(0, static_cast<const char*>(nul) - input.data());
    }
    while (!input.empty() && IsBlank(input.back())) input.remove_suffix(1);
    return input;
}

// The four levels over the text of one line (or what is left of it after
// an occurrence's start). With kContext the context is kept, the element's
// lines counted and its data searched; without, only the levels, the table
// and the element's end tag follow, as they would with it, and `start`
// learns where the text after each occurrence's start begins.
template <bool kContext>
void ScanText(RunState& run, std::string_view line, const LineFacts& facts, OccurrenceStart* start) {
    ScannerState& s = run.scanner;
    ScanContext& c = run.context;
    while (!line.empty()) {
        switch (s.next_level) {
        case 1: {
            const int row = TableOpened(line, facts);
            if (row < 0) {
                line = {};
                break;
            }
            AwaitOccurrence(s, row);  // the same text is examined again there
            break;
        }
        case 2: {
            std::size_t at;
            if ((at = FindTag(line, level2, facts)) != npos) {
                line.remove_prefix(at + level2.size());
                if constexpr (kContext) {
                    ClearContext(c);
                } else if (start) {
                    start->text = line.data();
                    start->row = s.selected_row;
                }
                s.next_level = 3;
            } else if ((at = FindTag(line, end_level1, facts)) != npos) {
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
            if ((at = FindTag(line, s.selected_level3, facts)) != npos) {
                std::string_view rest = line.substr(at + s.selected_level3.size());
                // The name ends at a blank, "/" or the ">" that ends the tag.
                const std::size_t name_end = NameLength(rest);
                std::size_t close = name_end;
                while (close < rest.size() && rest[close] != '>') ++close;
                if (close == rest.size()) {  // no name can be delimited: nothing opens
                    line = {};
                    break;
                }
                std::string_view tag = rest.substr(0, close);
                std::string_view name = rest.substr(0, name_end);
                if (ClosesOnTheSameLine<kContext>(run, rest.substr(close + 1), name, tag, facts, line)) break;
                // Each upper-cased from the line itself rather than copied
                // from the others just written.
                AssignFolded(s.selected_level4, name);
                if constexpr (kContext) {
                    AssignFolded(c.current_trigger, name);
                    c.trigger_line = 0;
                }
                s.end_level4.assign("</");
                s.end_level4.append(s.selected_level3.substr(1));
                const std::size_t name_at = s.end_level4.size();
                s.end_level4.resize(name_at + name.size());
                FoldInto(s.end_level4.data() + name_at, name);
                s.end_level4.push_back('>');
                s.next_level = 4;
                line = rest.substr(close + 1);
                if (!tag.empty() && tag.back() == '/') {
                    // Self-closing: the element opens and ends here, its data
                    // an empty line 1.
                    if constexpr (kContext) c.trigger_line = 1;
                    if (!CloseElement<kContext>(run, {}, facts.may_match)) line = {};
                }
            } else if ((at = FindTag(line, end_level2, facts)) != npos) {
                line.remove_prefix(at + end_level2.size());
                s.next_level = 2;
            } else {
                line = {};
            }
            break;
        }
        default: {  // 4: inside an element
            if constexpr (kContext) ++c.trigger_line;
            std::size_t at = FindTag(line, s.end_level4, facts);
            if (at == npos) {
                if constexpr (kContext)
                    if (facts.may_match) ProcessMatches(run, line, c.trigger_line);
                line = {};
                break;
            }
            std::string_view dataline = line.substr(0, at);
            std::string_view rest = line.substr(at + s.end_level4.size());
            line = CloseElement<kContext>(run, dataline, facts.may_match) ? rest : std::string_view{};
            break;
        }
        }
    }
}

}  // namespace

void ProcessStream(RunState& run, std::string_view input, const LineFacts& facts) {
    // Letters are compared and stored as upper case; the bytes are not copied.
    const std::string_view line = Trimmed(input, facts);
    if (line.empty()) return;
    // Without a "<" nothing opens or closes: outside an element the line is
    // consumed, inside it is one more line of data.
    if (!facts.may_hold_tag) {
        if (run.scanner.next_level == 4) {
            ++run.context.trigger_line;
            if (facts.may_match) ProcessMatches(run, line, run.context.trigger_line);
        }
        return;
    }
    ScanText<true>(run, line, facts, nullptr);
}

void ProcessRest(RunState& run, std::string_view rest, const LineFacts& facts) {
    ScanText<true>(run, rest, facts, nullptr);
}

std::string_view TrimmedLine(std::string_view input, const LineFacts& facts) { return Trimmed(input, facts); }

namespace {

// Names longer than this take the common way.
constexpr std::size_t kShortName = 32;

// The "<" of one line: as bits from its start when it is shorter than 64
// bytes, else looked up in the buffer's marks.
struct LineTags {
    const std::uint64_t* marks;
    std::size_t a;       // the line's start
    std::uint64_t bits;  // when `few`: bit i for a "<" at a + i
    bool few;
    // The first "<" at or after `from`, or `to`.
    std::size_t Next(std::size_t from, std::size_t to) const {
        if (!few) return NextMark(marks, from, to);
        const std::size_t shift = from - a;
        const std::uint64_t rest = shift < 64 ? bits >> shift : 0;
        if (!rest) return to;
        const std::size_t at = from + static_cast<std::size_t>(std::countr_zero(rest));
        return at < to ? at : to;
    }
};

// The lines most common in an export, followed directly from the "<" marks:
// at level 3 an element opened, or opened and closed, or an occurrence's end;
// at level 4 a line of the element's data or its end; at level 2 an
// occurrence's start. `e` ends the trimmed line, which holds no zero byte;
// `first` is its first "<". False, with nothing changed, for any other line:
// it then takes the common way.
bool FollowCommonLine(RunState& run, const char* base, const LineTags& tags, std::size_t e, std::size_t first,
                      const LineFacts& facts, OccurrenceStart& start) {
    ScannerState& s = run.scanner;
    // With one "<" in the line, a tag occurs in it only there.
    const bool one = tags.few && (tags.bits & (tags.bits - 1)) == 0;
    if (s.next_level == 3) {
        // The element prefix at the line's first "<" is its first occurrence.
        const std::string_view prefix = s.selected_level3;
        if (e - first < prefix.size() || !TagAt(base + first, prefix)) {
            if (!one) return false;
            // No element opens: the occurrence may end, and the line is
            // consumed either way (nothing after a lone tag opens anything).
            if (e - first >= end_level2.size() && TagAt(base + first, end_level2)) s.next_level = 2;
            return true;
        }
        const std::size_t name_at = first + prefix.size();
        const std::size_t name_size = NameLength(std::string_view(base + name_at, e - name_at));
        const std::size_t after = name_at + name_size + 1;  // past the ">" the name must end at
        if (name_size > kShortName || after > e || base[after - 1] != '>') return false;
        const std::string_view raw_name(base + name_at, name_size);
        char folded[kShortName];
        bool is_folded = false;
        for (std::size_t q = tags.Next(after, e); q < e; q = tags.Next(q + 1, e)) {
            // The end tag: "</", the prefix past its "<", the name and ">";
            // its name mostly stands as in the start tag, byte for byte.
            const std::size_t tag_size = prefix.size() + name_size + 2, name_in_tag = q + 1 + prefix.size();
            if (e - q < tag_size || base[q + 1] != '/' || base[q + tag_size - 1] != '>' ||
                !SameFolded(base + q + 2, prefix.substr(1)))
                continue;
            if (!SameBytes(base + name_in_tag, raw_name.data(), name_size)) {
                if (!is_folded) FoldInto(folded, raw_name);
                is_folded = true;
                if (!SameFolded(base + name_in_tag, std::string_view(folded, name_size))) continue;
            }
            // Opened and closed here: what follows goes on after a context
            // element, and is dropped after any other.
            const std::size_t rest = q + tag_size;
            if (rest == e) return true;
            if (!is_folded) FoldInto(folded, raw_name);
            std::string* field = nullptr;
            if (ElementNamesContext(run, std::string_view(folded, name_size), &field))
                ScanText<false>(run, std::string_view(base + rest, e - rest), facts, &start);
            return true;
        }
        // Opened: the element's lines follow.
        if (!is_folded) FoldInto(folded, raw_name);
        const std::string_view name(folded, name_size);
        s.selected_level4.assign(name);
        s.end_level4.assign("</");
        s.end_level4.append(prefix.substr(1));
        s.end_level4.append(name);
        s.end_level4.push_back('>');
        s.next_level = 4;
        return true;
    }
    if (s.next_level == 4) {
        const std::string_view end_tag = s.end_level4;
        for (std::size_t q = first; q < e; q = tags.Next(q + 1, e)) {
            if (e - q < end_tag.size() || !TagAt(base + q, end_tag)) continue;
            const std::size_t rest = q + end_tag.size();
            std::string* field = nullptr;
            const bool context = rest < e && ElementNamesContext(run, s.selected_level4, &field);
            EndElement(s);
            if (context) ScanText<false>(run, std::string_view(base + rest, e - rest), facts, &start);
            return true;
        }
        return true;  // one more line of the element's data
    }
    if (s.next_level == 2 && one) {
        // An occurrence starts, or the table ends; what follows the lone tag
        // opens nothing either way.
        if (e - first >= level2.size() && TagAt(base + first, level2)) {
            start.text = base + first + level2.size();
            start.row = s.selected_row;
            s.next_level = 3;
        } else if (e - first >= end_level1.size() && TagAt(base + first, end_level1)) {
            s.selected_level1 = {};
            s.next_level = 1;
        }
        return true;
    }
    return false;
}

}  // namespace

std::size_t FollowLines(RunState& run, const char* base, const Marks& marks, std::size_t from, std::size_t to,
                        OccurrenceStart& start, std::size_t& start_line) {
    const std::uint64_t* lf = marks.lf.data();
    const std::uint64_t* tags = marks.tag.data();
    LineFacts facts;
    facts.may_match = false;
    facts.tag_marks = tags;
    facts.marks_base = base;
    // Zero bytes are rare: looked for line by line only where there are some.
    const bool zeros = AnyMark(marks.zero.data(), from, to);
    for (std::size_t a = from; a < to;) {
        // The line from `a`: mostly shorter than 64 bytes, its line end and
        // its "<" then in the next 64 marks. Only lines with a "<" can
        // change the levels.
        const std::uint64_t lf_bits = MarksAt(lf, a);
        LineTags line_tags{tags, a, 0, lf_bits != 0};
        std::size_t end;
        if (line_tags.few) {
            end = a + static_cast<std::size_t>(std::countr_zero(lf_bits));
            line_tags.bits = MarksAt(tags, a) & ((lf_bits & (0 - lf_bits)) - 1);
            if (!line_tags.bits) {  // on to the line of the next "<"
                a = end + 1;
                const std::size_t tag = NextMark(tags, a, to);
                if (tag == to) return to;
                const std::size_t lf_before = LastMark(lf, a, tag);
                if (lf_before != tag) a = lf_before + 1;
                continue;
            }
        } else {
            const std::size_t tag = NextMark(tags, a, to);
            if (tag == to) return to;
            a = LastMark(lf, a, tag) == tag ? a : LastMark(lf, a, tag) + 1;
            end = NextMark(lf, tag, to);
            if (end - a > kMaxLineLength) return a;  // the reader hands such a line out in pieces
            line_tags = {tags, a, 0, false};
            if (end - a < 64) {
                line_tags.bits = MarksAt(tags, a) & ((std::uint64_t{1} << (end - a)) - 1);
                line_tags.few = true;
            }
        }
        const std::size_t first = line_tags.few ? a + static_cast<std::size_t>(std::countr_zero(line_tags.bits))
                                                : NextMark(tags, a, end);
        facts.may_hold_zero = zeros && AnyMark(marks.zero.data(), a, end);
        // The line without its trailing blanks: up to its last byte other
        // than a blank, from the marks when the line is short.
        std::size_t e = end;
        if (line_tags.few) {
            const std::uint64_t full = MarksAt(marks.filled.data(), a) & ((std::uint64_t{1} << (end - a)) - 1);
            e = full ? a + 64 - static_cast<std::size_t>(std::countl_zero(full)) : a;
        } else {
            while (e > a && IsBlank(base[e - 1])) --e;
        }
        const char* noted = start.text;
        if (facts.may_hold_zero || first >= e || !FollowCommonLine(run, base, line_tags, e, first, facts, start))
            FollowLine(run, std::string_view(base + a, end - a), facts, start);
        if (start.text != noted) start_line = a;
        a = end + 1;
    }
    return to;
}

void StartOccurrence(RunState& run, int row) {
    AwaitOccurrence(run.scanner, row);
    run.scanner.next_level = 3;
    ClearContext(run.context);
}

void FollowLine(RunState& run, std::string_view input, const LineFacts& facts, OccurrenceStart& start) {
    const std::string_view line = Trimmed(input, facts);
    if (!line.empty() && facts.may_hold_tag) ScanText<false>(run, line, facts, &start);
}

bool TableTagAt(const char* p, std::size_t room) { return room >= kTableStart.size() && TagAt(p, kTableStart); }

void AwaitOccurrence(ScannerState& s, int row) {
    s.next_level = 2;
    s.selected_row = row;
    s.selected_level1 = kTables[static_cast<std::size_t>(row)].level1;
    s.selected_level3 = kTables[static_cast<std::size_t>(row)].level3;
    s.selected_level4.clear();
    s.end_level4.clear();
}

bool AwaitsOccurrence(const ScannerState& s, int row) {
    return s.next_level == 2 && s.selected_row == row && s.selected_level4.empty() && s.end_level4.empty();
}
