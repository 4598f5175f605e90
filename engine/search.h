// Shared state of one search: the context of the line being read, the search
// strings, the log stream and the scanner's levels, plus the run's entry points.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "display.h"
#include "matcher.h"

// Where the current data line stands in the repository. Filled by the scanner,
// read when a match is written.
struct ScanContext {
    std::string current_library;
    std::string current_form;
    std::string current_global;
    std::string current_entryname;
    std::string current_menubar;
    std::string current_glyph;
    std::string current_sourcetype;
    std::string current_model;
    std::string current_table;
    std::string current_field;
    std::string current_trigger;  // name of the current (or last) element
    std::string current_formdesc;
    std::string current_fielddesc;
    std::int64_t trigger_line = 0;  // line number within the current element
};

// One search string; the list head is the most recently added record.
struct SearchString {
    char* allocated_string = nullptr;
    std::int32_t string_length = 0;  // length plus terminator
    std::int64_t matching_lines = 0;
    SearchString* next_string = nullptr;
};

// The log: bytes collect in `buffer` and go to `file` in large writes. With no
// file the bytes simply stay in the buffer (tests, fuzzing). `failed` records
// any write that did not go through, so an incomplete log is never reported as
// complete.
struct LogStream {
    std::FILE* file = nullptr;
    std::string buffer;
    bool failed = false;
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
    ScannerState scanner;
    ScanContext context;
    SearchString* next_srch_string = nullptr;
    Matcher matcher;  // built over the list by BuildSrchStrings
    LogStream output_file;
    std::string context_line;  // scratch for building one match line
};

// Reads up to n bytes of the export into dst: the count read, 0 at its end,
// -1 on a read error.
using ReadBlock = std::function<std::int64_t(std::FILE* file, char* dst, std::size_t n)>;

// What the front end hands to a run.
struct RunInputs {
    std::string srch_string;   // search strings separated by CR LF
    std::string srchfilename;  // the export
    std::string logfilename;   // empty: named after the export
    std::FILE* log_stream = nullptr;  // when set, the log goes here (not closed)
    std::string log_stream_name = "standard output";  // how messages name it
    std::function<std::time_t()> clock;  // empty: the system clock
    ReadBlock read_block;                // empty: fread
    std::optional<std::uint64_t> export_size;  // unset: the file's own size
};

enum class RunOutcome {
    Completed,        // read to the end of the export
    OutOfMemory,      // strings could not be built; nothing written
    LogNotOpened,     // nothing written
    ExportNotOpened,  // log holds the header, the reason and the summary
    ReadError,        // the export stopped at a read error
};

struct RunResult {
    RunOutcome outcome = RunOutcome::Completed;
    bool log_complete = false;  // every byte of the log reached its file
    bool found = false;         // some string matched some line
    std::uint64_t lines = 0;    // lines read
    std::string logfilename;
};

// The whole search: strings, log, export, progress, summary. Every outcome is
// shown through `display`; the result tells a caller how it went.
RunResult Quelvar(Display& display, const RunInputs& inputs);

// Writes the ending message and the summary to the log, closes it and shows
// the summary, after `box_reason` when the search did not end normally.
// Returns whether the log was written completely.
bool ListEverything(Display& display, RunState& run, const std::string& outputfilename,
                    std::string_view end_message, std::string_view box_reason, bool close_file);

// The log's path for an export: its file name cut at the first "." plus ".log".
std::string LogFileName(std::string_view srchfilename);

// The standard asctime text of t in local time, ending in a line feed.
std::string AscTime(std::time_t t);
