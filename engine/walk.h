// The second stage of the search, on one thread, in the order of the
// export: a small machine over the tag index that follows the structure
// alone (the levels, the table, the current element's end tag), applying
// the scanner's rules to the tags a line holds, and notes where each
// occurrence starts. The context is not kept: where a hit is, it is rebuilt
// from the last occurrence's start (see replay.h).
#pragma once

#include <cstdint>
#include <string>

#include "blocks.h"
#include "context.h"
#include "search.h"
#include "tag_index.h"

// The structure as the walk follows it.
struct Walk {
    ScannerState s;
    ContextCache cache;  // whether an element names context
    std::string name;    // scratch: an element's name, upper-cased
};

// Where an occurrence last started on the lines walked: there the whole
// state is known without the context kept (it is empty, no element is
// open).
struct OccurrenceMark {
    bool set = false;
    std::size_t text = 0;  // the buffer offset of the text after its "<OCC>"
    int row = -1;          // the table
};

// Follows the lines that hold the entries from `e` on, up to the line that
// starts at `stop` (not included), as the scanner would; returns the first
// entry at or after `stop`. Each occurrence that starts is noted in
// `occurrence`.
const TagEntry* WalkLines(Walk& w, const Block& b, const Marks& m, const TagEntry* e, std::size_t stop,
                          OccurrenceMark& occurrence);
