// One complete search, as the dialog and the command line start it: what
// they hand to a run, and the run itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "blocks.h"
#include "check.h"
#include "display.h"
#include "outcome.h"
#include "pipeline.h"
#include "progress.h"
#include "search_limits.h"
#include "sink.h"

// What the front end hands to a run.
struct RunInputs {
    std::string srch_string;   // search strings separated by CR LF
    // When set, the strings themselves, in place of srch_string: each one as
    // it stands, empty ones included.
    std::optional<std::vector<std::string>> strings;
    bool word = false;         // strings count only as whole words
    Limits limits;             // where hits count (--in, --not-in); none: everywhere
    // The lines of the element before and after each hit that the sink is
    // handed (NearLine); 0 and 0: none, at no cost.
    int lines_before = 0;
    int lines_after = 0;
    std::string srchfilename;  // the export
    std::FILE* export_stream = nullptr;  // when set, read in place of srchfilename (not closed)
    std::string logfilename;   // empty: named after the export
    std::FILE* log_stream = nullptr;  // when set, the log goes here (not closed)
    std::string log_stream_name = "standard output";  // how messages name it
    std::optional<std::uint64_t> export_size;  // unset: the file's own size, none for a stream
    HitSink* sink = nullptr;  // sees every hit besides the log; begun and finished by the run
    // When set, the run stops once it finds it true: it looks at it between
    // blocks, at least every megabyte read.
    const std::atomic<bool>* cancel = nullptr;
    bool single_thread = false;  // no threads but the caller's: blocks read one by one, the log written in place
    int threads = 0;             // threads that read and index blocks, the caller's included; 0: one per core
};

// Where a run meets the world beyond its inputs, for a front end or a test
// to replace: none may change what a run writes.
struct RunSeams {
    Clock clock;            // empty: the system clock
    ReadBlock read_block;   // empty: fread
    // Reads an export of known size at any offset, from any thread; the
    // threads then read the blocks they index. Empty: read in turn alone.
    ReadAt read_at;
    BlockSizes block_sizes;  // tests make them small
    Stage1Pause pause;      // the threads of stage 1 pause here (tests)
    // Opens the export (after the log), null with errno set when it cannot;
    // the run closes it. Empty: fopen.
    std::function<std::FILE*(const std::string& name)> open_export;
};

// The whole search: strings, log, export, progress, summary. Every outcome is
// shown through `display`; the result tells a caller how it went.
RunResult Quelvar(Display& display, const RunInputs& inputs, const RunSeams& seams = {});

// What the reading rules cannot see in one export.
struct CheckResult {
    RunOutcome outcome = RunOutcome::Completed;  // Completed, ExportNotOpened, ReadError or Interrupted
    Findings found;
    std::uint64_t lines = 0;  // the export's lines read
    std::string error;        // why the export could not be opened, as the system says it
};

// Reads the export as a search does, searching nothing and writing no log,
// and tells where the rules lose or misplace text (check.h). The progress is
// shown as a search shows it.
CheckResult CheckExport(Display& display, const RunInputs& inputs, const RunSeams& seams = {});

// The log's path for an export: its file name cut at the first "." after
// its leading dots, plus ".log".
std::string LogFileName(std::string_view srchfilename);

// The standard asctime text of t in local time, ending in a line feed.
std::string AscTime(std::time_t t);
