// Walking ahead on the reading thread. While the lines of one block are
// scanned, the thread that reads the next block follows its structure too
// (levels, table, the element's end tag), from a guess: that the lines reach
// it between two occurrences of the table whose tag came last. An
// occurrence's start clears whatever else the state held, so from the first
// line that starts one, when the guess holds before it, the walk and the
// lines agree line for line. The lines then take what the walk found: they
// are counted, and the context is rebuilt only for the lines where a search
// string starts, from the last occurrence's start before each. Where the
// guess is wrong, or the lines catch up with the walk, they go on as always.
#pragma once

#include <cstdint>
#include <memory>

#include "line_reader.h"
#include "search.h"

struct ScanAhead;
struct BlockAhead;

// Has the reading thread walk each block it reads ahead; null when nothing
// is read ahead or nothing would come of it. To be called before the first
// line is read.
std::shared_ptr<ScanAhead> StartScanningAhead(LineReader& reader, const RunState& run);

// The lines following what was walked ahead of them.
struct Following {
    const BlockAhead* block = nullptr;  // null: not following
    std::size_t next = 0;               // the next point to reach
    // Where the walk of the block in the buffer starts, looked up once a
    // block (the reader's `refills` when it was): the lines are checked
    // against it, not against the block. A buffer keeps its place when a
    // long line is read on into it, so its address tells nothing.
    std::uint64_t refills = ~std::uint64_t{0};
    std::size_t start = ~std::size_t{0};
};

// Looks up where the walk in the block in the buffer starts.
void LookUpScanAhead(Following& f, const ScanAhead& ahead, const LineReader& reader);
// Follows it when the lines stand at its start in the state guessed there.
void TakeScanAhead(Following& f, const ScanAhead& ahead, const RunState& run, const LineReader& reader);

// Starts following when the lines stand where the walk of the block in the
// buffer started, in the state guessed there.
inline void StartFollowing(Following& f, const ScanAhead* ahead, const RunState& run, const LineReader& reader) {
    if (!ahead) return;
    if (reader.refills != f.refills) LookUpScanAhead(f, *ahead, reader);
    if (reader.begin == f.start) TakeScanAhead(f, *ahead, run, reader);
}

// Goes on to the next line where a search string starts (or to where the
// walk ended, or to the line that may take the progress to `next_update`),
// counting the lines on the way and rebuilding the whole state for it.
// The line there is then read as always. Following ends with the walk.
void Follow(RunState& run, LineReader& reader, Following& f, std::uint64_t next_update, std::uint64_t& line_number);

// Rebuilds the whole state for the line at `to` (a line start in the buffer,
// at or after the reader's), and consumes the lines before it: from the
// occurrence whose "<OCC>" ends at `occurrence_text` (in the line at
// `occurrence_line`, of table `row`) when there is one at or after the
// reader's position, else by scanning in full from the reader's position.
void CatchUp(RunState& run, LineReader& r, std::size_t occurrence_line, std::size_t occurrence_text, int row,
             std::size_t to, std::uint64_t& line_number);
