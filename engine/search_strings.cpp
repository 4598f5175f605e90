// Splitting a search text into its strings.
#include "search_strings.h"

std::vector<std::string> BuildSrchStrings(std::string_view srch_string) {
    std::vector<std::string> strings;
    std::string_view work = srch_string;
    for (std::size_t pair; (pair = work.find("\r\n")) != std::string_view::npos;) {
        strings.emplace_back(work.substr(0, pair));
        work.remove_prefix(pair + 2);
    }
    if (!work.empty()) strings.emplace_back(work);
    return strings;
}
