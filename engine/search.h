// Shared state of one search: the strings, the scanner's levels, the context
// of the line being read and where hits go, plus the run's entry points.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <vector>

#include "around.h"
#include "blocks.h"
#include "context.h"
#include "display.h"
#include "search_limits.h"
#include "log_writer.h"
#include "matcher.h"
#include "sink.h"
#include "test_hooks.h"

// One search string; the list head is the most recently added record.
struct SearchString {
    char* allocated_string = nullptr;
    std::int32_t string_length = 0;  // length plus terminator
    std::int64_t matching_lines = 0;
    SearchString* next_string = nullptr;
};

// The export scanner's levels and the element being read.
struct ScannerState {
    int next_level = 1;          // 1 outside a table .. 4 inside an element
    int selected_row = -1;       // row of the current table, -1 before the first
    std::string_view selected_level1;  // table tag of the current table
    std::string_view selected_level3;  // element prefix of the current table
    std::string selected_level4;       // name of the current element
    std::string end_level4;            // its end tag
};

// Everything one run changes; a fresh RunState is a clean start.
struct RunState {
    // The strings, and what finds them.
    SearchString* next_srch_string = nullptr;
    Matcher matcher;  // built over the list by BuildSrchStrings
    // The structure and the context of the line scanned in full, and where
    // it stands in the export.
    ScannerState scanner;
    ScanContext context;
    ContextCache context_cache;
    std::uint64_t export_line = 0;
    std::uint64_t line_offset = 0;
    const char* line_start = nullptr;  // the line scanned in full, when known
    const char* line_end = nullptr;
    // When set, where the search strings start in the buffer that begins at
    // marks_base and holds the line: a hit is then only tested there.
    const std::uint64_t* match_marks = nullptr;
    const char* marks_base = nullptr;
    // What the line scanned in full holds, and where each hit goes.
    const Limits* limits = nullptr;  // when set, a hit counts only within them
    LimitsMemo limits_memo;
    AroundLines* around = nullptr;   // when set, the lines near hits go to the sink
    AroundLines around_lines;
    LineMatch found;
    LogStream output_file;
    LogWriter log_writer{&output_file};  // every hit goes to the log
    HitSink* sink = nullptr;   // and here too, when set
    std::string folded_data;   // scratch: the data of a hit, upper-cased

    RunState() = default;
    RunState(const RunState&) = delete;  // the log writer points into it
    RunState& operator=(const RunState&) = delete;
};

// What the front end hands to a run.
struct RunInputs {
    std::string srch_string;   // search strings separated by CR LF
    // When set, the strings themselves, in place of srch_string: each one as
    // it stands, empty ones included, and the header lists one per line.
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
    std::function<std::time_t()> clock;  // empty: the system clock
    ReadBlock read_block;                // empty: fread
    std::optional<std::uint64_t> export_size;  // unset: the file's own size, none for a stream
    HitSink* sink = nullptr;  // sees every hit besides the log
    // When set, the run stops once it finds it true: it looks at it between
    // blocks, at least every megabyte read.
    const std::atomic<bool>* cancel = nullptr;
    bool single_thread = false;  // no threads but the caller's: blocks read one by one, the log written in place
    int threads = 0;             // threads that read and index blocks, the caller's included; 0: one per core
    TestHooks hooks;
};

enum class RunOutcome {
    Completed,        // read to the end of the export
    OutOfMemory,      // strings could not be built; nothing written
    LogNotOpened,     // nothing written
    ExportNotOpened,  // log holds the header, the reason and the summary
    ReadError,        // the export stopped at a read error
    Interrupted,      // stopped by RunInputs::cancel; the log ends saying where
};

struct StringCount {
    std::string text;
    std::int64_t count = 0;
    bool operator==(const StringCount&) const = default;
};

struct RunResult {
    RunOutcome outcome = RunOutcome::Completed;
    std::vector<StringCount> counts;  // in the order given
    bool log_complete = false;  // every byte of the log reached its file
    bool found = false;         // some string matched some line
    std::uint64_t lines = 0;    // the export's lines read
    std::string logfilename;
    std::string log_error;  // why the log could not be created (LogNotOpened), as the system says it
    bool lone_cr = false;   // the export's lines end in a carriage return alone: it read as one line
};

// The whole search: strings, log, export, progress, summary. Every outcome is
// shown through `display`; the result tells a caller how it went.
RunResult Quelvar(Display& display, const RunInputs& inputs);

// Writes the ending message and the summary to the log, closes it and shows
// the summary, after `box_reason` when the search did not end normally.
// Returns whether the log was written completely.
bool ListEverything(Display& display, RunState& run, const std::string& outputfilename,
                    std::string_view end_message, std::string_view box_reason, bool close_file);

// The log's path for an export: its file name cut at the first "." after
// its leading dots, plus ".log".
std::string LogFileName(std::string_view srchfilename);

// The standard asctime text of t in local time, ending in a line feed.
std::string AscTime(std::time_t t);
