// The lines of an element around its hits (-A, -B, -C and the page's element
// view): each data line scanned in full is noted, and the sinks are handed
// the lines near a hit within the same element, each line once.
#pragma once

#include <cstdint>
#include <string_view>

#include "run_state.h"

// Sets up the ring for `before` lines; `after` lines follow each hit.
void StartAround(AroundLines& a, int before, int after);

// A data line read in full that holds no hit (`data` as read, its number
// in the element `element_line`; the line's place in run.place).
void NoteDataLine(RunState& run, std::string_view data, std::int64_t element_line);

// A hit in the line `element_line` of the element: the lines noted before it
// that are near enough go to the sinks, before the hit itself.
void BeforeHit(RunState& run, std::int64_t element_line);
// After the hit: the lines that follow it go to the sinks as they come.
void AfterHit(RunState& run, std::int64_t element_line);

// Whether lines after a hit are still awaited in the element being read:
// the walk then scans the following lines in full.
bool AwaitsLinesAfter(const RunState& run);
