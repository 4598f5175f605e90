// The search strings of a run, in the order given, each with the count of
// data lines that held it: the run owns them, the matcher only reads them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct SearchString {
    std::string allocated_string;  // as the search compares it
    std::int64_t matching_lines = 0;
};

// The strings of a search text: every CR LF ends one, an empty one
// included; only an empty rest after the last pair is dropped. Throws
// std::bad_alloc when memory runs out.
std::vector<std::string> BuildSrchStrings(std::string_view srch_string);
