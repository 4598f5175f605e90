// The search strings and the log: building and freeing the string list,
// testing data lines against it, and writing every message to the log.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "search.h"

// Builds the list from the search text. 1 on success, 0 when memory ran out
// (the list is then empty).
int BuildSrchStrings(RunState& run, std::string_view srch_string, bool word = false);

// The same from strings given one by one, each kept whole, whatever
// its length, empty ones included.
int BuildSrchStrings(RunState& run, const std::vector<std::string>& strings, bool word = false);

// Pushes one string at the front of the list. 1 on success, 0 when an
// allocation failed (nothing added, nothing leaked).
int TryToAllocate(RunState& run, std::string_view pass_string);

void DeAllocateEverything(RunState& run);

// Counts the strings that occur in a data line and, when any did, reports
// the line with its context to the log writer and the run's sink.
void ProcessMatches(RunState& run, std::string_view string_to_test, std::int64_t line_number);

// A data line of an element scanned in full: tested for the strings when it
// may hold one, else only noted for the lines around hits.
void DataLine(RunState& run, std::string_view data, std::int64_t line_number, bool may_match);
