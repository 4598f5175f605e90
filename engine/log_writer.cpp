// The log writer: messages as CR LF lines, and one context line per hit.
#include "log_writer.h"

#include <cstdint>
#include <cstring>
#include <system_error>

#include "bytes.h"
#include "search_limits.h"
#include "text.h"
#include "worker.h"

namespace {

// The buffer is handed to the file in writes of about this size.
constexpr std::size_t kLogFlushSize = 1 << 20;

void MaybeFlush(LogStream& log) {
    if (log.file && log.buffer.size() >= kLogFlushSize) FlushLog(log);
}

// Appends export text as the log shows it: letters a to z upper-cased,
// carriage returns dropped, a line feed written as CR LF.
void AppendLogText(std::string& out, std::string_view text) {
    // Most texts hold neither: tested eight bytes at a time.
    constexpr std::uint64_t ones = 0x0101010101010101, high = 0x8080808080808080;
    auto has_byte = [&](std::uint64_t v, unsigned char b) {
        const std::uint64_t x = v ^ (ones * b);
        return ((x - ones) & ~x & high) != 0;
    };
    std::size_t i = 0;
    bool plain = true;
    for (; plain && i + 8 <= text.size(); i += 8) {
        std::uint64_t v;
        std::memcpy(&v, text.data() + i, sizeof v);
        plain = !has_byte(v, '\r') && !has_byte(v, '\n');
    }
    for (; plain && i < text.size(); ++i) plain = text[i] != '\r' && text[i] != '\n';
    const std::size_t at = out.size();
    if (plain) {
        out.resize(at + text.size());
        FoldInto(out.data() + at, text);
        return;
    }
    while (!text.empty()) {
        const void* lf = std::memchr(text.data(), '\n', text.size());
        std::size_t n = lf ? static_cast<const char*>(lf) - text.data() : text.size();
        AppendWithoutCr(out, text.substr(0, n));
        if (lf) out.append("\r\n");
        text.remove_prefix(lf ? n + 1 : n);
    }
    FoldInto(out.data() + at, std::string_view(out).substr(at));
}

}  // namespace

std::string SummaryText(const std::vector<StringCount>& counts) {
    std::string summary;
    for (const StringCount& c : counts) {
        summary.push_back('\'');
        summary.append(c.text);
        summary.append("' found ");
        AppendNumber(summary, static_cast<std::uint64_t>(c.count));
        summary.append(" times\n");
    }
    return summary;
}

void LogWriter::Begin(const SearchStart& start) {
    AddMsgToOutputFile(*log, "Starting search of file '" + std::string(start.export_name) + "' on " +
                                 std::string(start.started));
    AddMsgToOutputFile(*log, "looking for:\n");
    for (const std::string& text : start.strings) AddMsgToOutputFile(*log, text + "\n");
    AddMsgToOutputFile(*log, "\n");
    if (start.limits && !start.limits->Empty()) {  // where the hits were looked for, and an empty line
        AddMsgToOutputFile(*log, DescribeLimits(*start.limits));
        AddMsgToOutputFile(*log, "\n");
    }
}

void LogWriter::Finish(const RunResult& result) {
    AddMsgToOutputFile(*log, result.end_message);
    // An interrupted search's counts would stand for a part of the export.
    if (result.outcome == RunOutcome::Interrupted) return;
    AddMsgToOutputFile(*log, "Result Summary:\n");
    AddMsgToOutputFile(*log, SummaryText(result.counts));
}

bool LogWriter::OnHit(const Hit& hit) {
    // The line's start (the context, up to the element's line number) is
    // built again only when some context field differs from those it was
    // built from; hits come in runs within one element. The fields are
    // kept as they stand and written upper-cased.
    const ScanContext& c = hit.context;
    bool same = built;
    for (std::size_t i = 0; same && i < kShownContextFields; ++i) same = SameText(c.*kContextFields[i].value, fields[i]);
    if (!same) {
        prefix.clear();
        for (std::size_t i = 0; i < kShownContextFields; ++i) {
            const std::string& value = c.*kContextFields[i].value;
            fields[i] = value;
            if (value.empty()) continue;
            prefix.append(kContextFields[i].label);
            AppendLogText(prefix, value);
            if (i != kElementField) prefix.append("  ");  // the element's line number follows it
        }
        built = true;
    }
    // Straight into the log's buffer, as AddMsgToOutputFile would put the
    // whole line there.
    std::string& out = log->buffer;
    out.append(prefix);
    if (!c.current_trigger.empty()) {
        out.push_back('(');
        AppendPadded(out, static_cast<std::uint64_t>(hit.element_line), 4);
        out.append(") ");
    }
    out.append(":: '");
    AppendLogText(out, hit.data);
    out.append("'\r\n");
    MaybeFlush(*log);
    return true;
}

void AddMsgToOutputFile(LogStream& log, std::string_view text_to_add) {
    std::string& out = log.buffer;
    bool open_line = false;  // text written since the last line end
    while (!text_to_add.empty()) {
        const void* lf = std::memchr(text_to_add.data(), '\n', text_to_add.size());
        std::size_t n = lf ? static_cast<const char*>(lf) - text_to_add.data() : text_to_add.size();
        std::size_t before = out.size();
        AppendWithoutCr(out, text_to_add.substr(0, n));
        if (lf) {
            out.append("\r\n");
            open_line = false;
            text_to_add.remove_prefix(n + 1);
        } else {
            open_line = out.size() != before;
            text_to_add = {};
        }
    }
    if (open_line) out.append("\r\n");
    MaybeFlush(log);
}

// The thread that writes full buffers: one at a time, in the order given.
struct BackgroundWriter {
    std::FILE* file = nullptr;
    std::string pending;  // being written, or written
    bool failed = false;  // a write did not go through
    Worker worker;        // last: it ends before what it works on goes
};

namespace {

// Waits until the background writer has written what it was given.
void WaitForBackground(LogStream& log) {
    Wait(log.background->worker);
    if (log.background->failed) log.failed = true;
}

}  // namespace

void StartBackgroundWrites(LogStream& log) {
    if (!log.file || log.background) return;
    auto w = std::make_shared<BackgroundWriter>();
    w->file = log.file;
    try {
        StartWorker(w->worker, [&w = *w] {
            if (std::fwrite(w.pending.data(), 1, w.pending.size(), w.file) != w.pending.size()) w.failed = true;
        });
    } catch (const std::system_error&) {
        return;  // written on this thread, as before
    }
    log.background = std::move(w);
}

void FlushLog(LogStream& log) {
    if (!log.file || log.buffer.empty()) return;
    if (log.background) {
        WaitForBackground(log);
        std::swap(log.background->pending, log.buffer);
        Post(log.background->worker);
        log.buffer.clear();  // what the writer wrote before, ready to fill again
        return;
    }
    if (std::fwrite(log.buffer.data(), 1, log.buffer.size(), log.file) != log.buffer.size())
        log.failed = true;
    log.buffer.clear();
}

bool CloseLog(LogStream& log, bool close_file) {
    if (log.background) {  // what it holds first, then the rest from here
        WaitForBackground(log);
        log.background.reset();
    }
    if (log.file) {
        FlushLog(log);
        if (std::fflush(log.file) != 0 || std::ferror(log.file)) log.failed = true;
        if (close_file && std::fclose(log.file) != 0) log.failed = true;
        log.file = nullptr;
    }
    return !log.failed;
}
