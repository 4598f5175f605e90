// The lines of an element around its hits (-A, -B, -C and the page's element
// view): each data line scanned in full is noted, and the sinks are handed
// the lines near a hit within the same element, each line once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct RunState;

// How far the lines around hits reach: the most any sink asks for.
struct AroundLines {
    int before = 0;
    int after = 0;
    // The last data lines of the element, oldest first from `first`, in a
    // ring of `before` places; the strings keep their room between lines.
    struct Noted {
        std::string data;  // upper-cased, as a hit's data
        std::uint64_t export_line = 0;
        std::int64_t element_line = 0;
        int after = 0;  // lines after the hit before it, when it was handed over as such; else 0
    };
    std::vector<Noted> ring;
    std::size_t first = 0, count = 0;
    int after_left = 0;             // lines after the last hit still to hand over
    int since_hit = 0;              // data lines since the last hit of the element
    std::int64_t last_element_line = 0;  // of the last data line noted
    // The elements met so far, counted where the numbering of lines starts
    // over: hits of one element share it, so a sink can tell an element
    // that ends from the next one even where their line numbers run on.
    std::uint64_t element = 0;
};

// Sets up the ring for `before` lines; `after` lines follow each hit.
void StartAround(AroundLines& a, int before, int after);

// A data line scanned in full that holds no hit (`data` as read, its number
// in the element `element_line`; the line's place in run.export_line).
void NoteDataLine(RunState& run, std::string_view data, std::int64_t element_line);

// A hit in the line `element_line` of the element: the lines noted before it
// that are near enough go to the sinks, before the hit itself.
void BeforeHit(RunState& run, std::int64_t element_line);
// After the hit: the lines that follow it go to the sinks as they come.
void AfterHit(RunState& run, std::int64_t element_line);

// Whether lines after a hit are still awaited in the element being read:
// the walk then scans the following lines in full.
bool AwaitsLinesAfter(const RunState& run);
