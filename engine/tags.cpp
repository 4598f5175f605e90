// Telling the export's tags in text.
#include "tags.h"

int TableTagRowAt(const char* p, std::size_t room) {
    if (!TagAt(p, room, kTableStart)) return -1;
    const char* name = p + kTableStart.size();
    const std::size_t left = room - kTableStart.size();
    // The names after "<TABLE XMLNS:": the longest that fits, so UFORMAT
    // wins over UFORM.
    int found = -1;
    std::size_t longest = 0;
    for (int row = 0; row < static_cast<int>(kTables.size()); ++row) {
        const std::string_view table = kTables[static_cast<std::size_t>(row)].level1.substr(kTableStart.size());
        if (table.size() > longest && TagAt(name, left, table)) {
            found = row;
            longest = table.size();
        }
    }
    return found;
}
