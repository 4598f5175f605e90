// Scanning ahead on the reading thread. While the lines of one block are
// scanned, the thread that reads the next block scans it too, from a guess:
// that the lines reach it between two occurrences of the table whose tag
// came last. An occurrence's start clears whatever else the state held, so
// from the first line that starts one, when the guess holds before it, the
// two scans agree line for line. The lines then take what was found: they
// are counted, and only those where a search string starts are scanned,
// each from the state found before it. Where the guess is wrong, or the
// lines catch up, they are scanned as always.
#pragma once

#include <cstdint>
#include <memory>

#include "line_reader.h"
#include "search.h"

struct ScanAhead;
struct BlockAhead;

// Has the reading thread scan each block it reads ahead; null when nothing
// is read ahead. To be called before the first line is read.
std::shared_ptr<ScanAhead> StartScanningAhead(LineReader& reader, const RunState& run);

// The lines following what was scanned ahead of them.
struct Following {
    const BlockAhead* block = nullptr;  // null: not following
    std::size_t next = 0;               // the next state to take
    // Where the scan ahead in the buffer at `buffer` starts, looked up once
    // a block: the lines are checked against it, not against the block.
    const char* buffer = nullptr;
    std::size_t start = ~std::size_t{0};
};

// Looks up where the scan ahead in the block in the buffer starts.
void LookUpScanAhead(Following& f, const ScanAhead& ahead, const LineReader& reader);
// Follows it when the lines stand at its start in the state guessed there.
void TakeScanAhead(Following& f, const ScanAhead& ahead, const RunState& run, const LineReader& reader);

// Starts following when the lines stand where the scan ahead of them in the
// block in the buffer started, in the state guessed there.
inline void StartFollowing(Following& f, const ScanAhead* ahead, const RunState& run, const LineReader& reader) {
    if (!ahead) return;
    if (reader.buffer.data() != f.buffer) LookUpScanAhead(f, *ahead, reader);
    if (reader.begin == f.start) TakeScanAhead(f, *ahead, run, reader);
}

// Counts the lines up to where the next state was found (or up to the next
// progress update, at `next_update`) and takes that state. Returns whether
// the next line is scanned: false for a line read only for the progress
// shown. Following ends with the state after the last line scanned ahead.
bool Follow(RunState& run, LineReader& reader, Following& f, std::uint64_t next_update, std::uint64_t& line_number);
