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

// Where an occurrence last started on the lines followed: the text after its
// "<OCC>" and the table. There the scanner's whole state is known without
// the context kept: the context is empty, no element is open.
struct OccurrenceStart {
    const char* text = nullptr;  // null: none since it was last cleared
    int row = -1;
};

// Follows one line as ProcessStream would, but for the levels, the table and
// the element's end tag only: the context, the element's line count and the
// match test are left as they are (stale). Each occurrence that starts is
// noted in `start`.
void FollowLine(RunState& run, std::string_view input, const LineFacts& facts, OccurrenceStart& start);

struct Marks;

// Follows the whole lines in base[from, to) (`to` a line start) as
// FollowLine would, visiting only those that hold a "<" (`marks` are the
// buffer's). Returns where it stopped: `to`, or the start of a line longer
// than the reader keeps whole. `start_line` learns where the line of the
// last occurrence's start begins.
std::size_t FollowLines(RunState& run, const char* base, const Marks& marks, std::size_t from, std::size_t to,
                        OccurrenceStart& start, std::size_t& start_line);

// Goes on with what is left of a line ProcessStream began, in the state the
// text before it left: the trimmed line after an occurrence's start, say.
void ProcessRest(RunState& run, std::string_view rest, const LineFacts& facts);

// The line as the scanner reads it: up to its first zero byte, without
// trailing blanks.
std::string_view TrimmedLine(std::string_view input, const LineFacts& facts);

// The state just after an occurrence of the table of row `row` started: the
// context empty, no element open.
void StartOccurrence(RunState& run, int row);

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
