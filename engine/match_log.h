// The search strings and the log: building and freeing the string list,
// testing data lines against it, and writing every message to the log.
#pragma once

#include <cstddef>
#include <string_view>

#include "search.h"

// Search strings are cut to this many characters.
inline constexpr std::size_t kMaxSearchString = 999;

// Builds the list from the search text. 1 on success, 0 when memory ran out
// (the list is then empty).
int BuildSrchStrings(RunState& run, std::string_view srch_string);

// Pushes one string at the front of the list. 1 on success, 0 when an
// allocation failed (nothing added, nothing leaked).
int TryToAllocate(RunState& run, std::string_view pass_string);

void DeAllocateEverything(RunState& run);

// Counts the strings that occur in a data line and, when any did, writes the
// line with its context to the log.
void ProcessMatches(RunState& run, std::string_view string_to_test, std::int64_t line_number);

// Writes a message to the log as whole CR LF lines: carriage returns are
// dropped, every line feed ends a line, and text after the last one is ended.
void AddMsgToOutputFile(LogStream& log, std::string_view text_to_add);

// Sends what the buffer holds to the file. Failures are remembered in `failed`.
void FlushLog(LogStream& log);

// Flushes and, when `close_file`, closes the file. Returns whether every byte
// written so far reached it.
bool CloseLog(LogStream& log, bool close_file);
