// The export scanner. Tags are found by substring search with letters compared
// as upper case, not by parsing XML: the export's layout is fixed and the
// search must keep going over anything it holds.
#include "scanner.h"

#include <cstring>

#include "blocks.h"
#include "marks.h"
#include "match_log.h"
#include "matcher.h"
#include "tags.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;

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
            if (SameFolded(facts.marks_base + at, tag)) return at - base;
        }
    }
    const char* p = line.data();
    const char* end = p + last + 1;
    while (p < end) {
        const void* lt = std::memchr(p, '<', static_cast<std::size_t>(end - p));
        if (!lt) return npos;
        p = static_cast<const char*>(lt);
        if (SameFolded(p, tag)) return static_cast<std::size_t>(p - line.data());
        ++p;
    }
    return npos;
}

void AssignFolded(std::string& out, std::string_view text) {
    out.resize(text.size());
    FoldInto(out.data(), text);
}

// What one scan of a line works on: the structure always; with the
// context, the run whose context it keeps and whose matches it tests.
struct Scan {
    ScannerState& s;
    ContextCache& cache;
    RunState* run;  // null: the structure alone
};

void EndElement(ScannerState& s) {
    s.selected_level4.clear();
    s.end_level4.clear();
    s.next_level = 3;
}

// Whether the element `folded_name` of the current table names context;
// `field` the context field it fills, or null.
bool ElementNamesContext(Scan& scan, std::string_view folded_name, std::string** field) {
    int index = -1;
    const bool context = NamesContext(scan.cache, scan.s.selected_row, folded_name, index);
    *field = index >= 0 && scan.run ? &(scan.run->context.*kContextFields[static_cast<std::size_t>(index)].value)
                                    : nullptr;
    return context;
}

// The element's data on the line of its end tag (or of a self-closing tag):
// stored when it names context, searched otherwise (neither when the context
// is not kept). Returns whether the rest of the line goes on being scanned.
template <bool kContext>
bool CloseElement(Scan& scan, std::string_view folded_name, std::string_view dataline, bool may_match) {
    std::string* field = nullptr;
    const bool context = ElementNamesContext(scan, folded_name, &field);
    if constexpr (kContext) {
        if (context) {
            if (field) AssignFolded(*field, dataline);
        } else {
            DataLine(*scan.run, dataline, scan.run->context.trigger_line, may_match);
        }
    }
    EndElement(scan.s);
    return context;
}

// Whether the end tag of the element `folded_name` of the current table
// stands at p ("<" there), `room` bytes on.
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
bool ClosesOnTheSameLine(Scan& scan, std::string_view after, std::string_view name, std::string_view tag,
                         const LineFacts& facts, std::string_view& line) {
    if (!facts.tag_marks || (!tag.empty() && tag.back() == '/')) return false;
    const ScannerState& s = scan.s;
    // The first end tag in `after`, found from the marks of "<". The name is
    // upper-cased where the element's name goes, or (without the context)
    // aside.
    const std::size_t base = static_cast<std::size_t>(after.data() - facts.marks_base);
    const std::size_t to = base + after.size();
    std::size_t at = base;
    std::string aside;
    std::string& folded = kContext ? scan.run->context.current_trigger : aside;
    AssignFolded(folded, name);
    for (;; ++at) {
        at = NextMark(facts.tag_marks, at, to);
        if (at == to) return false;  // current_trigger is set again by the caller
        if (EndTagAt(facts.marks_base + at, to - at, s.selected_level3, folded)) break;
    }
    const std::string_view dataline = after.substr(0, at - base);
    const std::string_view rest = after.substr(at - base + 2 + s.selected_level3.size() + folded.size());
    if constexpr (kContext) scan.run->context.trigger_line = 1;
    line = CloseElement<kContext>(scan, folded, dataline, facts.may_match) ? rest : std::string_view{};
    return true;
}

// The table whose tag the line holds, as a line outside a table is read: its
// row, or -1 for none.
int TableOpened(std::string_view line, const LineFacts& facts) {
    for (int row : kRowOrder)
        if (FindTag(line, kTables[static_cast<std::size_t>(row)].level1, facts) != npos) return row;
    return -1;
}

// The line up to its first zero byte, without trailing blanks.
std::string_view Trimmed(std::string_view input, const LineFacts& facts) {
    if (facts.may_hold_zero) {
        if (const void* nul = std::memchr(input.data(), '\0', input.size()))
            input = input.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - input.data()));
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
void ScanText(Scan& scan, std::string_view line, const LineFacts& facts, OccurrenceStart* start) {
    ScannerState& s = scan.s;
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
                    ClearContext(scan.run->context);
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
                const std::string_view tag = rest.substr(0, close);
                const std::string_view name = rest.substr(0, name_end);
                if (ClosesOnTheSameLine<kContext>(scan, rest.substr(close + 1), name, tag, facts, line)) break;
                // Each upper-cased from the line itself rather than copied
                // from the others just written.
                AssignFolded(s.selected_level4, name);
                if constexpr (kContext) {
                    AssignFolded(scan.run->context.current_trigger, name);
                    scan.run->context.trigger_line = 0;
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
                    if constexpr (kContext) scan.run->context.trigger_line = 1;
                    if (!CloseElement<kContext>(scan, s.selected_level4, {}, facts.may_match)) line = {};
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
            if constexpr (kContext) ++scan.run->context.trigger_line;
            const std::size_t at = FindTag(line, s.end_level4, facts);
            if (at == npos) {
                if constexpr (kContext)
                    DataLine(*scan.run, line, scan.run->context.trigger_line, facts.may_match);
                line = {};
                break;
            }
            const std::string_view dataline = line.substr(0, at);
            const std::string_view rest = line.substr(at + s.end_level4.size());
            line = CloseElement<kContext>(scan, s.selected_level4, dataline, facts.may_match) ? rest : std::string_view{};
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
            DataLine(run, line, run.context.trigger_line, facts.may_match);
        }
        return;
    }
    Scan scan{run.scanner, run.context_cache, &run};
    ScanText<true>(scan, line, facts, nullptr);
}

void ProcessRest(RunState& run, std::string_view rest, const LineFacts& facts) {
    Scan scan{run.scanner, run.context_cache, &run};
    ScanText<true>(scan, rest, facts, nullptr);
}

std::string_view TrimmedLine(std::string_view input, const LineFacts& facts) { return Trimmed(input, facts); }

void ScanStructure(ScannerState& s, ContextCache& cache, std::string_view input, const LineFacts& facts,
                OccurrenceStart& start) {
    const std::string_view line = Trimmed(input, facts);
    if (line.empty() || !facts.may_hold_tag) return;
    Scan scan{s, cache, nullptr};
    ScanText<false>(scan, line, facts, &start);
}

void StartOccurrence(RunState& run, int row) {
    AwaitOccurrence(run.scanner, row);
    run.scanner.next_level = 3;
    ClearContext(run.context);
}

void AwaitOccurrence(ScannerState& s, int row) {
    s.next_level = 2;
    s.selected_row = row;
    s.selected_level1 = kTables[static_cast<std::size_t>(row)].level1;
    s.selected_level3 = kTables[static_cast<std::size_t>(row)].level3;
    s.selected_level4.clear();
    s.end_level4.clear();
}
