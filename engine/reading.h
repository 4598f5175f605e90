// Lines read in full: the structure, the context and each data line tested
// against the strings, by the machine of the levels over the lines' tags;
// and the walk, the same machine keeping the structure alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "blocks.h"
#include "levels.h"
#include "marks.h"
#include "run_state.h"
#include "tag_index.h"

// A block in stage 2: its lines, marks and tag index, and the export's line
// its first line is.
struct BlockLines {
    const Block& block;
    const Marks& marks;
    const TagEntry* entries;       // ended by the sentinel
    std::uint64_t export_line = 0;
};

// Reads the lines buffer[from, to) of the block in full, the first of them
// from `first_pos` on (the text after an occurrence's start, say) and the
// export's line `export_line`. `e` is the first entry at or after `from`;
// returns the first at or after `to`.
const TagEntry* ReadInFull(RunState& run, const BlockLines& lines, const TagEntry* e, std::size_t from,
                           std::size_t to, std::uint64_t export_line, std::size_t first_pos);

// Where an occurrence last started on the lines walked: there the whole
// state is known without the context kept (it is empty, no element is
// open).
struct OccurrenceMark {
    bool set = false;
    std::size_t text = 0;  // the buffer offset of the text after its "<OCC>"
    int row = -1;          // the table
};

// Follows the lines that hold the entries from `e` on, up to the line that
// starts at `stop` (not included), for the structure alone; returns the
// first entry at or after `stop`. Each occurrence that starts is noted.
const TagEntry* WalkLines(Structure& s, const char* base, const TagEntry* e, std::size_t stop,
                          OccurrenceMark& occurrence);
