// Where a search string starts, the whole state is needed: the context is
// rebuilt by scanning in full from the last occurrence's start before the
// line (the context is empty there), or from the last line the state was
// whole at, and the line itself is then scanned in full.
#pragma once

#include <cstddef>

#include "blocks.h"
#include "marks.h"
#include "search.h"
#include "walk.h"

// Brings the whole state (structure and context) from the line start
// `from`, where it is whole, to the line start `to` of the block: from the
// occurrence noted in `occurrence` when it started at or after `from`, else
// by scanning every line in between. None of those lines holds a hit.
// `from_export_line` is the export's line at `from`, for the lines around
// hits (run.around).
void RebuildState(RunState& run, const Block& b, const Marks& m, std::size_t from, std::uint64_t from_export_line,
                  const OccurrenceMark& occurrence, std::size_t to);

// Where a block's lines stand in the export, for the hits in them.
struct LinePlace {
    std::uint64_t export_line = 0;  // the export's line of the block's first line
    UnitCursor cursor;              // UTF-16 offsets, asked in order
};

// Scans the line buffer[at, end) of the block (`line` its number in the
// block) in full: the context kept, its data searched.
void ScanInFull(RunState& run, const Block& b, const Marks& m, std::size_t at, std::size_t end, std::uint32_t line,
                LinePlace& place);
