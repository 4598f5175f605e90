// Searches the exports of one command line: one as it always was, or many,
// several at once, with whatever goes to standard output or to the one log
// written in the order the exports were given.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "../engine/search_limits.h"
#include "../engine/search_run.h"
#include "exports.h"

struct RunPlan {
    std::vector<std::string> strings;  // as the search compares them
    bool word = false;
    Limits limits;  // where hits count (--in, --not-in)
    bool json = false;
    bool print = false;  // each hit on standard output (--print)
    // In place of the summary on standard output, a line for each export
    // whose search completed: its name and count of matching lines (-c), or
    // its name when it holds a hit (-l).
    bool count = false;
    bool files_with_matches = false;
    bool color = false;  // with the strings highlighted
    bool terminal = false;  // standard output is a terminal
    // The lines of the element around each hit (-B, -A); -1 when not given.
    int before = -1;
    int after = -1;
    bool show_progress = false;
    std::vector<ExportItem> exports;
    std::vector<std::string> empty_folders;  // folders given that hold no export
    // Several exports, or a folder: each export's counts, then the totals,
    // and a JSON summary record.
    bool many = false;
    int jobs = 1;  // exports searched at once
    bool log_given = false;
    std::string log_name;  // "-": standard output
    bool html_given = false;
    std::string html_name;  // the page of hits, a file
    // Once raised, the searches stop where they are, those not started are
    // not, everything is said on standard error and the page is left as it
    // was.
    const std::atomic<bool>* cancel = nullptr;
};

// Searches every export of the plan and prints what the run has to say.
// Returns the exit status: 0 some string was found and nothing failed, 1
// none was found and nothing failed, 2 something failed.
int RunExports(const RunPlan& plan);
