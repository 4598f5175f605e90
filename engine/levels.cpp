// The levels' rules that need no visitor.
#include "levels.h"

void AwaitOccurrence(Structure& s, int row) {
    s.next_level = 2;
    s.selected_row = row;
    s.selected_level4.clear();
}

void StartOccurrence(Structure& s, int row) {
    AwaitOccurrence(s, row);
    s.next_level = 3;
}

namespace levels {

int FirstTable(const LineTags& l, std::size_t pos) {
    int row = -1;
    for (const TagEntry* e = l.first; e != l.last; ++e)
        if (e->kind == TagKind::TableStart && e->at >= pos && (row < 0 || kRowRank[e->row] < kRowRank[row])) row = e->row;
    return row;
}

const TagEntry* FirstEndTag(const LineTags& l, std::size_t pos, int row, std::string_view name) {
    // "</", the prefix without its "<", the name up to the tag's ">".
    const std::size_t to_name = 1 + kTables[static_cast<std::size_t>(row)].level3.size();
    for (const TagEntry* e = l.first; e != l.last; ++e) {
        if (e->kind != TagKind::ElementEnd || e->row != row || e->at < pos || e->name_end >= l.cut) continue;
        if (e->name_end - (e->at + to_name) == name.size() && SameFolded(l.base + e->at + to_name, name)) return e;
    }
    return nullptr;
}

}  // namespace levels
