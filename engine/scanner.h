// The export scanner: follows tables, occurrences and elements line by line,
// keeps the context, and hands each searched data line to the match test.
#pragma once

#include <cstdint>
#include <string_view>

#include "search.h"

// What is already known of a line, so the common line (element data without
// a tag, a zero byte or a possible match) costs almost nothing. Each "false"
// must be certain; "true" only means "look".
struct LineFacts {
    bool may_hold_tag = true;    // a "<"
    bool may_hold_zero = true;   // a zero byte
    bool may_match = true;       // a place where a search string may start
    // When set, the "<" marks of the buffer that starts at marks_base and
    // holds the line: tags are found from them, not by searching the line.
    const std::uint64_t* tag_marks = nullptr;
    const char* marks_base = nullptr;
};

// Handles one line of the export (without its line end).
void ProcessStream(RunState& run, std::string_view input, const LineFacts& facts = {});

// Goes on with what is left of a line ProcessStream began, in the state the
// text before it left: the trimmed line after an occurrence's start, say.
void ProcessRest(RunState& run, std::string_view rest, const LineFacts& facts);

// The line as the scanner reads it: up to its first zero byte, without
// trailing blanks.
std::string_view TrimmedLine(std::string_view input, const LineFacts& facts);

// Where an occurrence started on a line followed: the text after its
// "<OCC>" and the table. There the scanner's whole state is known without
// the context kept: the context is empty, no element is open.
struct OccurrenceStart {
    const char* text = nullptr;  // null: none since it was last cleared
    int row = -1;
};

// Follows one line as ProcessStream would, but for the structure alone (the
// levels, the table and the element's end tag): no context is kept and no
// line is searched. Each occurrence that starts is noted in `start`.
void ScanStructure(ScannerState& s, ContextCache& cache, std::string_view input, const LineFacts& facts,
                OccurrenceStart& start);

// The state just after an occurrence of the table of row `row` started: the
// context empty, no element open.
void StartOccurrence(RunState& run, int row);

// The state between two occurrences of the table of row `row`: the
// occurrence that starts next clears whatever else the state held.
void AwaitOccurrence(ScannerState& s, int row);

// Blanks, as the scanner trims them from a line's end: space and tab to
// carriage return.
inline bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
