// The test of each data line against the search strings: the strings a line
// holds are counted, and the line goes with its context to every sink (the
// log writer first).
#pragma once

#include <cstdint>
#include <string_view>

struct RunState;

// A data line of an element read in full (`string_to_test`, a piece of the
// line being read, or empty; its number in the element `line_number`):
// tested for the strings where `starts` (the marks of the buffer at `base`)
// say one starts, else only noted for the lines around hits.
void ProcessMatches(RunState& run, std::string_view string_to_test, std::int64_t line_number,
                    const std::uint64_t* starts, const char* base);
