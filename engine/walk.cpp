// The walk over a block's tag index.
#include "walk.h"

#include <cstring>

#include "scanner.h"
#include "tags.h"

namespace {

// The first entry of `kind` in [first, last) at or after offset p.
const TagEntry* First(const TagEntry* first, const TagEntry* last, std::uint32_t p, TagKind kind) {
    for (const TagEntry* e = first; e != last; ++e)
        if (e->kind == kind && e->at >= p) return e;
    return nullptr;
}

// Where the name of the end tag at `e` begins: after "</" and the prefix.
std::size_t EndTagName(const TagEntry& e) { return e.at + 1 + kTables[static_cast<std::size_t>(e.row)].level3.size(); }

// Whether the end tag at `e` closes the element `folded_name` of table
// `row`: its prefix is the table's and its name, up to its ">", the
// element's.
bool EndsElement(const char* base, const TagEntry& e, int row, std::string_view folded_name) {
    if (e.kind != TagKind::ElementEnd || e.row != row) return false;
    const std::size_t name_at = EndTagName(e);
    return e.name_end - name_at == folded_name.size() && SameFolded(base + name_at, folded_name);
}

// The same for the element whose name stands in its start tag as `raw`: an
// end tag mostly repeats it byte for byte, so the two are compared as they
// stand, and folded only when they differ.
bool EndsElementNamed(const char* base, const TagEntry& e, int row, std::string_view raw) {
    if (e.kind != TagKind::ElementEnd || e.row != row) return false;
    const char* name = base + EndTagName(e);
    if (e.name_end - EndTagName(e) != raw.size()) return false;
    if (std::memcmp(name, raw.data(), raw.size()) == 0) return true;
    for (std::size_t i = 0; i < raw.size(); ++i)
        if (Fold(name[i]) != Fold(raw[i])) return false;
    return true;
}

// The same for the end tag that an element opened and closed on its line
// (`e`) ends with: the first element's end tag may be the second's.
bool LineEndTagEnds(const char* base, const TagEntry& e, int row, std::string_view raw) {
    if (e.kind != TagKind::ElementLine || e.row != row) return false;
    const char* name = base + e.at + kTables[static_cast<std::size_t>(row)].level3.size();
    if (base + e.name_end - name != static_cast<std::ptrdiff_t>(raw.size())) return false;
    for (std::size_t i = 0; i < raw.size(); ++i)
        if (Fold(name[i]) != Fold(raw[i])) return false;
    return true;
}

// Whether the element that `e` opens and closes on its line has the name
// `folded_name`.
bool SameFolded(const char* base, const TagEntry& e, std::string_view folded_name) {
    const std::size_t name_at = e.at + kTables[static_cast<std::size_t>(e.row)].level3.size();
    return e.name_end - name_at == folded_name.size() && ::SameFolded(base + name_at, folded_name);
}

void Fold(std::string& out, std::string_view raw) {
    out.resize(raw.size());
    FoldInto(out.data(), raw);
}

void OpenElement(ScannerState& s, std::string_view folded_name) {
    s.selected_level4.assign(folded_name);
    s.end_level4.assign("</");
    s.end_level4.append(s.selected_level3.substr(1));
    s.end_level4.append(folded_name);
    s.end_level4.push_back('>');
    s.next_level = 4;
}

void CloseElement(ScannerState& s) {
    s.selected_level4.clear();
    s.end_level4.clear();
    s.next_level = 3;
}

bool NamesContext(Walk& w, std::string_view folded_name) {
    int field = -1;
    return NamesContext(w.cache, w.s.selected_row, folded_name, field);
}

// The tags of one line, [first, last), none a zero byte: the levels as the
// scanner moves through them. `p` is where the text not yet read begins;
// each level looks for its tags from there on, in its order.
void WalkLine(Walk& w, const char* base, const TagEntry* first, const TagEntry* last, OccurrenceMark& occurrence) {
    ScannerState& s = w.s;
    std::uint32_t p = first->at;
    for (;;) {
        switch (s.next_level) {
        case 1: {  // a table's tag, by the order of the tables; the same text is read again inside it
            int row = -1;
            for (const TagEntry* e = first; e != last; ++e)
                if (e->kind == TagKind::TableStart && e->at >= p && (row < 0 || kRowRank[e->row] < kRowRank[row]))
                    row = e->row;
            if (row < 0) return;
            AwaitOccurrence(s, row);
            break;
        }
        case 2:
            if (const TagEntry* e = First(first, last, p, TagKind::OccurrenceStart)) {
                p = e->at + static_cast<std::uint32_t>(level2.size());
                occurrence = {true, p, s.selected_row};
                s.next_level = 3;
            } else if (const TagEntry* e = First(first, last, p, TagKind::TableEnd)) {
                p = e->at + static_cast<std::uint32_t>(end_level1.size());
                s.selected_level1 = {};
                s.next_level = 1;
            } else {
                return;
            }
            break;
        case 3: {
            const TagEntry* start = nullptr;
            for (const TagEntry* e = first; e != last && !start; ++e)
                if ((e->kind == TagKind::ElementStart || e->kind == TagKind::ElementLine) && e->at >= p &&
                    e->row == s.selected_row)
                    start = e;
            if (!start) {
                const TagEntry* e = First(first, last, p, TagKind::OccurrenceEnd);
                if (!e) return;
                p = e->at + static_cast<std::uint32_t>(end_level2.size());
                s.next_level = 2;
                break;
            }
            if (start->close == kNoClose) return;  // no name can be delimited: the line is consumed
            const std::size_t name_at = start->at + s.selected_level3.size();
            const std::string_view raw(base + name_at, start->name_end - name_at);
            if (start->kind == TagKind::ElementLine) {
                // Opened and closed here: what follows goes on after a
                // context element and is dropped after any other.
                if (start + 1 == last) return;
                Fold(w.name, raw);
                if (!NamesContext(w, w.name)) return;
                p = start->end_tag + EndTagLength(*start);
                break;
            }
            const bool closes_itself = start->close > name_at && base[start->close - 1] == '/';
            p = start->close + 1;
            // Whether the element names context matters only where tags
            // follow it on the line: it decides whether they are read.
            const TagEntry* after = start + 1;
            while (after != last && after->at <= start->close) ++after;
            if (closes_itself) {  // opens and ends here
                if (after == last) return;
                Fold(w.name, raw);
                if (!NamesContext(w, w.name)) return;
                break;
            }
            // Its end tag on the same line, the first after the start tag:
            // an end tag's own entry, or that of an element of the same name
            // opened and closed here (which may start inside this start tag;
            // its end tag comes after it, and before the next entry).
            const TagEntry* end = nullptr;
            for (const TagEntry* e = start + 1; e != last && !end; ++e)
                if ((e >= after && EndsElementNamed(base, *e, s.selected_row, raw)) ||
                    LineEndTagEnds(base, *e, s.selected_row, raw))
                    end = e;
            if (!end) {
                Fold(w.name, raw);
                OpenElement(s, w.name);
                break;
            }
            // Opened and closed here: what follows goes on after a context
            // element and is dropped after any other.
            if (end + 1 == last) return;
            Fold(w.name, raw);
            if (!NamesContext(w, w.name)) return;
            p = end->kind == TagKind::ElementLine ? end->end_tag + EndTagLength(*end) : end->name_end + 1;
            break;
        }
        default: {  // 4: inside an element, only its end tag counts
            // The first place of the end tag: an end tag's own entry, or
            // that of an element of the same name opened and closed here
            // (whose end tag may stand after "<" inside its start tag).
            const TagEntry* end = nullptr;
            std::uint32_t at = ~std::uint32_t{0}, after = 0;
            for (const TagEntry* e = first; e != last; ++e) {
                if (e->kind == TagKind::ElementLine) {
                    if (e->end_tag >= p && e->end_tag < at && e->row == s.selected_row &&
                        SameFolded(base, *e, s.selected_level4)) {
                        end = e;
                        at = e->end_tag;
                        after = e->end_tag + EndTagLength(*e);
                    }
                } else if (e->at >= p && e->at < at && EndsElement(base, *e, s.selected_row, s.selected_level4)) {
                    end = e;
                    at = e->at;
                    after = e->name_end + 1;
                }
            }
            if (!end) return;
            p = after;
            const bool context = NamesContext(w, s.selected_level4);
            CloseElement(s);
            if (!context) return;
            break;
        }
        }
    }
}

// A line that holds a zero byte, which cuts it: walked by the scanner's own
// rules over its text, buffer[start, end).
void WalkWholeLine(Walk& w, const Block& b, const Marks& m, std::size_t start, std::size_t end,
                   OccurrenceMark& occurrence) {
    const char* base = b.buffer.data();
    LineFacts facts;
    facts.may_match = false;
    facts.tag_marks = m.tag.data();
    facts.marks_base = base;
    OccurrenceStart noted;
    ScanStructure(w.s, w.cache, std::string_view(base + start, end - start), facts, noted);
    if (noted.text) occurrence = {true, static_cast<std::size_t>(noted.text - base), noted.row};
}

// A line whose only entry is `e`, not a zero byte: the common line, taken
// here at once. The same as WalkLine over the one entry.
void WalkLoneEntry(Walk& w, const char* base, const TagEntry& e, OccurrenceMark& occurrence) {
    ScannerState& s = w.s;
    switch (s.next_level) {
    case 1:
        // The table's tag; at level 2 the same text holds neither "<OCC>"
        // nor "</TABLE>".
        if (e.kind == TagKind::TableStart) AwaitOccurrence(s, e.row);
        return;
    case 2:
        if (e.kind == TagKind::OccurrenceStart) {
            occurrence = {true, e.at + level2.size(), s.selected_row};
            s.next_level = 3;
        } else if (e.kind == TagKind::TableEnd) {
            s.selected_level1 = {};
            s.next_level = 1;
        }
        return;
    case 3:
        if (e.kind == TagKind::ElementStart) {
            // An element opens, unless it has no ">", closes itself or is
            // another table's; nothing follows it on the line either way.
            const std::size_t name_at = e.at + s.selected_level3.size();
            if (e.row != s.selected_row || e.close == kNoClose || (e.close > name_at && base[e.close - 1] == '/')) return;
            Fold(w.name, std::string_view(base + name_at, e.name_end - name_at));
            OpenElement(s, w.name);
        } else if (e.kind == TagKind::OccurrenceEnd) {
            s.next_level = 2;
        }
        return;  // an element opened and closed, or a tag level 3 does not look for
    default:  // 4: only the element's end tag counts
        if ((e.kind == TagKind::ElementEnd && EndsElement(base, e, s.selected_row, s.selected_level4)) ||
            (e.kind == TagKind::ElementLine && e.row == s.selected_row && SameFolded(base, e, s.selected_level4)))
            CloseElement(s);
        return;
    }
}

}  // namespace

const TagEntry* WalkLines(Walk& w, const Block& b, const Marks& m, const TagEntry* e, std::size_t stop,
                          OccurrenceMark& occurrence) {
    const char* base = b.buffer.data();
    while (e->at < stop) {
        if (e->last_in_line && e->kind != TagKind::Zero) {
            WalkLoneEntry(w, base, *e, occurrence);
            ++e;
            continue;
        }
        // The entries of the line, up to the last.
        const TagEntry* last = e;
        bool zero = false;
        do {
            zero = zero || last->kind == TagKind::Zero;
        } while (!(last++)->last_in_line);
        if (zero) {
            const std::size_t lf_before = LastMark(m.lf.data(), b.begin, e->at);
            WalkWholeLine(w, b, m, lf_before == e->at ? b.begin : lf_before + 1, NextMark(m.lf.data(), e->at, b.end),
                          occurrence);
        } else {
            WalkLine(w, base, e, last, occurrence);
        }
        e = last;
    }
    return e;
}
