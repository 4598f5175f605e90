// Reads the export block by block into the scanner. Each block is marked
// once as it is read; lines that can change nothing but counts are counted
// from the marks, stretches where no search string starts are followed for
// their structure alone (here, or by the reading thread ahead of them, see
// scan_ahead.h), and the lines where one starts go to the scanner in full.
#pragma once

#include <cstdint>

#include "line_reader.h"
#include "progress.h"
#include "search.h"

// Reads every line of the export through the scanner, showing progress.
// Returns the number of lines read; `reader.read_error` tells whether the
// export stopped at a read error.
std::uint64_t ScanExport(RunState& run, LineReader& reader, Progress& progress, Display& display,
                         const Clock& now);
