// Reads the export block by block through the two stages of the search:
// stage 1 (marks and the tag index) on every thread, each block on its own;
// stage 2 (the walk, and the replay and full scan where a string starts) on
// the calling thread, block after block. The progress is shown there too,
// at the lines where reading line by line would show it.
#pragma once

#include <atomic>
#include <cstdint>

#include "blocks.h"
#include "progress.h"
#include "search.h"

struct ScanOptions {
    int threads = 1;           // threads for stage 1, the caller's included
    bool line_by_line = false;  // the reference: every line scanned in full, nothing known of it
    std::uint64_t delay_seed = 0;  // tests: the threads of stage 1 pause at random
    // When set, the scan stops once it finds it true: it looks between
    // blocks, so where it stops is the same on any number of threads.
    const std::atomic<bool>* cancel = nullptr;
};

struct ScanTotals {
    std::uint64_t reads = 0;       // lines handed to the scanner, pieces of overlong lines counted
    std::uint64_t file_lines = 0;  // the export's own lines
    bool interrupted = false;      // the cancel flag stopped it
};

// Reads every line of the export through the scanner, showing progress.
// `reader.read_error` tells afterwards whether a read error ended it.
// Throws std::bad_alloc when memory runs out, on any thread.
ScanTotals ScanExport(RunState& run, ExportReader& reader, Progress& progress, Display& display, const Clock& now,
                      const ScanOptions& options);
