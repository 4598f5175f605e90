// The state of one run, by owner: what it looks for (built once, then only
// read), the structure, the context of the line being read, and where its
// hits go. A fresh RunState is a clean start.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "blocks.h"
#include "context.h"
#include "levels.h"
#include "matcher.h"
#include "search_limits.h"
#include "sink.h"
#include "search_strings.h"

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

// What the run looks for.
struct Query {
    std::vector<std::string> strings;  // as given
    Matcher matcher;                   // built over them, then only read
    const Limits* limits = nullptr;    // when set, a hit counts only within them
};

// Where the line being read in full stands in the export.
struct LinePlace {
    std::uint64_t export_line = 0;
    const Block* block = nullptr;  // the line is block->buffer[at, end)
    std::size_t at = 0, end = 0;
    bool first_of_block = false;   // the block's first line (which may go on a line cut before it)
    UnitCursor cursor;             // UTF-16 offsets, asked in order
};

// Where the byte offset of the line that LinePlace names stands in the
// export file.
std::uint64_t LineOffset(LinePlace& place);

// Where the hits go, and what they add up to.
struct Output {
    std::vector<SearchString> strings;  // the counts, in the order given
    std::vector<HitSink*> sinks;        // the log writer first
    LineMatch found;                    // what the line tested last holds
    LimitsMemo limits_memo;
    std::string scratch;                // kept from line to line
    bool stop = false;                  // a sink asked the run to stop
};

struct RunState {
    Query query;
    Structure structure;
    ScanContext context;
    AroundLines around;  // the lines near hits, when sought
    bool around_sought = false;
    LinePlace place;
    Output output;

    RunState() = default;
    RunState(const RunState&) = delete;  // sinks point into it
    RunState& operator=(const RunState&) = delete;
};
