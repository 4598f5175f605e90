// The export scanner: follows tables, occurrences and elements line by line,
// keeps the context, and hands each searched data line to the match test.
#pragma once

#include <cstdint>
#include <string_view>

#include "search.h"

// What the reader already knows of a line, so the common line (element data
// without a tag, a zero byte or a possible match) costs almost nothing. Each
// "false" must be certain; "true" only means "look".
struct LineFacts {
    bool may_hold_tag = true;    // a "<"
    bool may_hold_zero = true;   // a zero byte
    bool may_match = true;       // a byte some search string needs
    // When set, the "<" marks of the buffer that starts at marks_base and
    // holds the line: tags are found from them, not by searching the line.
    const std::uint64_t* tag_marks = nullptr;
    const char* marks_base = nullptr;
};

// Handles one line of the export (without its line end).
void ProcessStream(RunState& run, std::string_view input, const LineFacts& facts = {});

// The table whose tag the line holds, as a line outside a table is read: its
// row, or -1 for none.
int TableOpened(std::string_view line, const LineFacts& facts);

// Whether a table's tag may start at p ("<" there), `room` bytes on.
bool TableTagAt(const char* p, std::size_t room);

// The state between two occurrences of the table of row `row` (not -1): the
// occurrence that starts next clears whatever else the state holds.
// AwaitOccurrence puts a state there; AwaitsOccurrence tells whether one is.
void AwaitOccurrence(ScannerState& s, int row);
bool AwaitsOccurrence(const ScannerState& s, int row);
