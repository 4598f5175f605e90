// How a search ended, as the run tells its caller and its sinks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class RunOutcome {
    Completed,        // read to the end of the export
    OutOfMemory,      // strings could not be built; nothing written
    LogNotOpened,     // nothing written
    ExportNotOpened,  // log holds the header, the reason and the summary
    ReadError,        // the export stopped at a read error
    Interrupted,      // stopped on request (RunInputs::cancel, or a sink); the log ends saying where
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
    std::string log_error;    // why the log could not be created (LogNotOpened), as the system says it
    std::string end_message;  // how the search ended, as the log says it before its summary
    bool lone_cr = false;     // the export's lines end in a carriage return alone: it read as one line
};
