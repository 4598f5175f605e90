// Reads the export block by block through the two stages of the search:
// stage 1 (marks and the tag index) on every thread, each block on its own;
// stage 2 (the walk, and the lines read in full where a string starts) on
// the calling thread, block after block. The progress is shown there too,
// at the lines where reading line by line would show it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "blocks.h"
#include "check.h"
#include "progress.h"
#include "run_state.h"

// Called by the threads of stage 1 at a few points of their work: tests
// pause them at random, so that they keep pace with each other and with
// stage 2 in every way. Nothing a run writes may depend on it.
using Stage1Pause = std::function<void()>;

struct ScanOptions {
    int threads = 1;  // threads for stage 1, the caller's included
    Stage1Pause pause;
    // When set, the scan stops once it finds it true: it looks between
    // blocks, so where it stops is the same on any number of threads.
    const std::atomic<bool>* cancel = nullptr;
    // When set, nothing is searched: the lines are followed for what the
    // reading rules cannot see, noted here.
    Findings* check = nullptr;
};

struct ScanTotals {
    std::uint64_t reads = 0;       // lines handed to the reading, pieces of overlong lines counted
    std::uint64_t file_lines = 0;  // the export's own lines
    bool interrupted = false;      // the cancel flag, or a sink, stopped it
};

// Reads every line of the export, showing progress. `reader.read_error`
// tells afterwards whether a read error ended it. Throws std::bad_alloc when
// memory runs out, on any thread.
ScanTotals ScanExport(RunState& run, ExportReader& reader, Progress& progress, Display& display, const Clock& now,
                      const ScanOptions& options);
