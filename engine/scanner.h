// The export scanner: follows tables, occurrences and elements line by line,
// keeps the context, and hands each searched data line to the match test.
#pragma once

#include <string_view>

#include "search.h"

// Handles one line of the export (without its line end).
void ProcessStream(RunState& run, std::string_view input);
