// The log: every message reaches it as whole CR LF lines, and the log writer
// is the sink that turns each hit into one context line.
#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "context.h"
#include "sink.h"

// Bytes collect in `buffer` and go to `file` in large writes. With no file the
// bytes simply stay in the buffer (tests, fuzzing). `failed` records any
// write that did not go through, so an incomplete log is never reported as
// complete.
struct BackgroundWriter;
struct LogStream {
    std::FILE* file = nullptr;
    std::string buffer;
    bool failed = false;
    // When set, a full buffer is written to the file by a second thread while
    // the next one fills.
    std::shared_ptr<BackgroundWriter> background;
};

// Has a second thread write the full buffers from here on; the log stays
// as it is (written in order, failures remembered) when no thread starts.
void StartBackgroundWrites(LogStream& log);

// Writes a message to the log as whole CR LF lines: carriage returns are
// dropped, every line feed ends a line, and text after the last one is ended.
void AddMsgToOutputFile(LogStream& log, std::string_view text_to_add);

// Sends what the buffer holds to the file (or hands it to the background
// writer). Failures are remembered in `failed`.
void FlushLog(LogStream& log);

// Flushes and, when `close_file`, closes the file. Returns whether every byte
// written so far reached it.
bool CloseLog(LogStream& log, bool close_file);

// The summary's lines: each string with its count, in the order given.
std::string SummaryText(const std::vector<StringCount>& counts);

// The log as a sink: its header when the search begins, one line per hit
// (the context fields that are set, the element and the line's number in
// it, then the data), and when it is over how it ended and, unless it was
// interrupted, the summary.
struct LogWriter final : HitSink {
    explicit LogWriter(LogStream* to) : log(to) {}
    LogStream* log;
    // The start of the last match line, and the context fields it was built
    // from.
    bool built = false;
    std::string prefix;
    std::array<std::string, kShownContextFields> fields;
    void Begin(const SearchStart& start) override;
    bool OnHit(const Hit& hit) override;
    void Finish(const RunResult& result) override;
};
