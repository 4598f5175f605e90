// The four levels of an export's structure (outside a table, in a table, in
// an occurrence, in an element) and the rules that move between them,
// written once. A line is read from the tags stage 1 found in it: each
// level looks for its tags from where the text not yet read begins, in its
// fixed order, and what happens is told to a visitor.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "context.h"
#include "tag_index.h"
#include "tags.h"

// The structure where a line starts. The context of the data is kept apart
// (ScanContext), by the reading that needs it.
struct Structure {
    int next_level = 1;           // 1 outside a table, 2 in a table, 3 in an occurrence, 4 in an element
    int selected_row = -1;        // the current table (a row of kTables), -1 before the first
    std::string selected_level4;  // the current element's name, upper-cased; empty outside one
    ContextCache cache;           // which elements name context, by table and name
};

// One line as stage 1 indexed it.
struct LineTags {
    const char* base = nullptr;       // the block's buffer: every offset counts from it
    const TagEntry* first = nullptr;  // the line's entries before its first zero byte
    const TagEntry* last = nullptr;
    std::size_t cut = 0;  // where the line ends for the reading: its first zero byte, or past its line feed
    std::size_t end = 0;  // where its text ends: the cut, or before trailing blanks where they matter
};

// The entries of the line that starts with `e`: up to its first zero byte,
// where the line is cut.
inline LineTags LineTagsAt(const char* base, const TagEntry* e, std::size_t cut) {
    LineTags l{base, e, e, cut, cut};
    if (e->kind == TagKind::End) return l;
    for (;; ++l.last) {
        if (l.last->kind == TagKind::Zero) {
            l.cut = l.end = l.last->at;
            break;
        }
        if (l.last->last_in_line) {
            ++l.last;
            break;
        }
    }
    return l;
}

// Past the entries of the line that starts with `e`.
inline const TagEntry* PastLine(const TagEntry* e) {
    if (e->kind == TagKind::End) return e;
    while (!e->last_in_line) ++e;
    return e + 1;
}

// Where the rules leave the rest of a line unread though it holds a tag.
enum class Unread {
    AfterSearchedElement,  // after the end tag of an element whose data is searched
    StartTagWithoutEnd,    // from a start tag that no ">" ends on its line: nothing opens
};

// The state between two occurrences of the table of row `row`: the next
// occurrence's start clears whatever else the state held.
void AwaitOccurrence(Structure& s, int row);
// The state just after an occurrence of that table started.
void StartOccurrence(Structure& s, int row);

namespace levels {

// The first entry of `kind` at or after `pos`, or null.
inline const TagEntry* First(const LineTags& l, std::size_t pos, TagKind kind) {
    for (const TagEntry* e = l.first; e != l.last; ++e)
        if (e->kind == kind && e->at >= pos) return e;
    return nullptr;
}

// Whether any entry stands at or after `pos`.
inline bool AnyAfter(const LineTags& l, std::size_t pos) { return l.last != l.first && l.last[-1].at >= pos; }

// The table whose tag stands first in kRowOrder at or after `pos`, or -1.
int FirstTable(const LineTags& l, std::size_t pos);

// The first start tag of the table of `row` at or after `pos`, or null.
inline const TagEntry* FirstStartTag(const LineTags& l, std::size_t pos, int row) {
    for (const TagEntry* e = l.first; e != l.last; ++e)
        if (e->kind == TagKind::ElementStart && e->row == row && e->at >= pos) return e;
    return nullptr;
}

// The first end tag at or after `pos` of the element `name` (upper case) of
// the table of `row`, or null.
const TagEntry* FirstEndTag(const LineTags& l, std::size_t pos, int row, std::string_view name);
// The same for the name as its start tag has it.
inline const TagEntry* FirstEndTagOf(const LineTags& l, std::size_t pos, int row, std::string_view raw_name) {
    const std::size_t to_name = 1 + kTables[static_cast<std::size_t>(row)].level3.size();
    for (const TagEntry* e = l.first; e != l.last; ++e) {
        if (e->kind != TagKind::ElementEnd || e->row != row || e->at < pos || e->name_end >= l.cut) continue;
        const char* name = l.base + e->at + to_name;
        const std::size_t n = raw_name.size();
        if (e->name_end - (e->at + to_name) != n) continue;
        // An end tag mostly repeats the name byte for byte: compared in
        // words, letters folded only where they differ.
        bool same = true;
        for (std::size_t i = 0; same && i < n; i += 8) {
            const std::size_t at = i + 8 <= n ? i : n >= 8 ? n - 8 : 0;
            if (n >= 8) {
                const std::uint64_t a = Load8(name + at), b = Load8(raw_name.data() + at);
                same = a == b || FoldWord(a) == FoldWord(b);
            } else {
                for (std::size_t k = 0; same && k < n; ++k) same = Fold(name[k]) == Fold(raw_name[k]);
                break;
            }
        }
        if (same) return e;
    }
    return nullptr;
}


// The element ends, its last line's data `data` (a piece of the line, or
// none for a tag that closes itself); the rest of the line, from `after`, is
// read on after an element that names context and dropped after any other.
// Returns whether it is read on.
template <class Visitor>
bool CloseElement(Structure& s, const LineTags& l, std::string_view data, std::size_t after, Visitor& v) {
    // Whether the element names context matters to the structure alone
    // only where tags follow it: it decides whether they are read.
    int field = -1;
    const bool tags_after = AnyAfter(l, after);
    const bool context = (Visitor::kContext || tags_after) && NamesContext(s.cache, s.selected_row, s.selected_level4, field);
    v.Closed(data, context, field);
    if (tags_after && !context) v.Skipped(after, Unread::AfterSearchedElement);
    s.selected_level4.clear();
    s.next_level = 3;
    return context;
}

}  // namespace levels

// Reads one line from `pos` on: its tags move the structure from level to
// level; the visitor hears of each occurrence that starts (the text after
// its "<OCC>"), each element opened, each line of an element's data, and
// each element closed with the data of its last line.
//
// A visitor has `static constexpr bool kContext` (whether it keeps the
// context: elements' names are then told, and whether each names context)
// and the calls Occurrence(offset), Opened(name as it stands), Data(text),
// Closed(text, names_context, field) and Skipped(offset, Unread) where the
// rest of a line holding a tag goes unread.
template <class Visitor>
void ReadLine(Structure& s, const LineTags& l, std::size_t pos, Visitor& v) {
    using namespace levels;
    while (pos < l.end) {
        switch (s.next_level) {
        case 1: {  // a table's tag: the same text is read again inside it
            const int row = FirstTable(l, pos);
            if (row < 0) return;
            AwaitOccurrence(s, row);
            break;
        }
        case 2:  // "<OCC>" before "</TABLE>", wherever each stands
            if (const TagEntry* occ = First(l, pos, TagKind::OccurrenceStart)) {
                pos = occ->at + level2.size();
                s.next_level = 3;
                v.Occurrence(pos);
            } else if (const TagEntry* end = First(l, pos, TagKind::TableEnd)) {
                pos = end->at + end_level1.size();
                s.next_level = 1;
            } else {
                return;
            }
            break;
        case 3:  // an element's start tag before "</OCC>"
            if (const TagEntry* start = FirstStartTag(l, pos, s.selected_row)) {
                // Without a ">" on the line no name can be delimited: nothing opens.
                if (start->close == kNoClose || start->close >= l.cut) {
                    v.Skipped(start->at, Unread::StartTagWithoutEnd);
                    return;
                }
                const std::size_t name_at = start->at + kTables[static_cast<std::size_t>(s.selected_row)].level3.size();
                const std::string_view name(l.base + name_at, start->name_end - name_at);
                s.next_level = 4;
                if constexpr (Visitor::kContext) v.Opened(name);
                pos = start->close + 1;
                // A tag that closes itself: its element ends here, its data
                // an empty line 1.
                const bool closes_itself = start->closes_itself;
                // Most elements end on the line they open: the name is kept
                // (upper-cased) only for one that does not, or to be looked up.
                const TagEntry* end = closes_itself ? nullptr
                                      : start->paired ? start + 1
                                                      : FirstEndTagOf(l, pos, s.selected_row, name);
                if ((!closes_itself && !end) || Visitor::kContext || AnyAfter(l, end ? end->name_end + 1 : pos)) {
                    s.selected_level4.resize(name.size());
                    FoldInto(s.selected_level4.data(), name);
                }
                if (closes_itself && !CloseElement(s, l, std::string_view{}, pos, v)) return;
                if (end) {  // as level 4 would find it next
                    const std::size_t after = end->name_end + 1;
                    if (!CloseElement(s, l, std::string_view(l.base + pos, end->at - pos), after, v)) return;
                    pos = after;
                }
            } else if (const TagEntry* end = First(l, pos, TagKind::OccurrenceEnd)) {
                pos = end->at + end_level2.size();
                s.next_level = 2;
            } else {
                return;
            }
            break;
        default: {  // 4: only the element's own end tag counts
            const TagEntry* end = FirstEndTag(l, pos, s.selected_row, s.selected_level4);
            if (!end) {
                if constexpr (Visitor::kContext) v.Data(std::string_view(l.base + pos, l.end - pos));
                return;
            }
            const std::size_t after = end->name_end + 1;
            if (!CloseElement(s, l, std::string_view(l.base + pos, end->at - pos), after, v)) return;
            pos = after;
            break;
        }
        }
    }
}
