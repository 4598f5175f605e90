// One complete search: builds the strings, names and opens the log, reads the
// export line by line through the scanner, shows progress and the summary.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

#include "line_reader.h"
#include "match_log.h"
#include "paths.h"
#include "scanner.h"
#include "search.h"

namespace {

namespace fs = std::filesystem;

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\' || c == ':';
#else
    return c == '/';
#endif
}

// Same file on disk: names that differ in case or run through links count.
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::equivalent(PathOf(a), PathOf(b), ec) && !ec;
}

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(PathOf(path), ec);
}

// The export's size in bytes, or none when it has none to find (a pipe).
std::optional<std::uint64_t> ExportSize(const std::string& path) {
    std::error_code ec;
    fs::path p = PathOf(path);
    if (!fs::is_regular_file(p, ec)) return std::nullopt;
    std::uintmax_t size = fs::file_size(p, ec);
    if (ec) return std::nullopt;
    return static_cast<std::uint64_t>(size);
}

std::string Quoted(std::string_view text) {
    std::string out = "'";
    out.append(text);
    out.push_back('\'');
    return out;
}

}  // namespace

std::string AscTime(std::time_t t) {
    static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::tm* tm = std::localtime(&t);
    if (!tm) return "??? ??? ?? ??:??:?? ????\n";
    char text[64];
    std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n",
                  kDays[(tm->tm_wday % 7 + 7) % 7], kMonths[(tm->tm_mon % 12 + 12) % 12],
                  tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec, 1900 + tm->tm_year);
    return text;
}

std::string LogFileName(std::string_view srchfilename) {
    std::size_t name = 0;  // start of the file name after the last separator
    for (std::size_t i = 0; i < srchfilename.size(); ++i)
        if (IsSeparator(srchfilename[i])) name = i + 1;
    std::size_t dot = srchfilename.find('.', name);
    std::string log(srchfilename.substr(0, dot));
    log.append(".log");
    return log;
}

bool ListEverything(Display& display, RunState& run, const std::string& outputfilename,
                    std::string_view end_message, std::string_view box_reason, bool close_file) {
    // The list holds the strings newest first; the summary lists them as typed.
    std::vector<const SearchString*> strings;
    for (const SearchString* s = run.next_srch_string; s; s = s->next_string) strings.push_back(s);
    std::string summary;
    for (auto it = strings.rbegin(); it != strings.rend(); ++it) {
        summary.append(Quoted(std::string_view((*it)->allocated_string, (*it)->string_length - 1)));
        summary.append(" found ");
        summary.append(std::to_string((*it)->matching_lines));
        summary.append(" times\n");
    }
    AddMsgToOutputFile(run.output_file, end_message);
    AddMsgToOutputFile(run.output_file, "Result Summary:\n");
    AddMsgToOutputFile(run.output_file, summary);
    bool complete = CloseLog(run.output_file, close_file);

    std::string text(box_reason);
    text.append(summary);
    if (complete)
        text.append("\n\nSee full results in output file " + Quoted(outputfilename) + "\n");
    else
        text.append("\n\nWriting to output file " + Quoted(outputfilename) +
                    " failed: the log is incomplete.\n");
    display.ShowMessageBox(text, "Result Summary");
    return complete;
}

namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Where the next search string occurs in the buffer, searched ahead of the
// lines like a ByteStream.
struct MatchStream {
    std::uint64_t next = 0;
    std::uint64_t scanned_to = 0;
    bool tuned = false;
};

// Searches the buffer for the strings from `a` (a line start, at `from` in
// the buffer) to its end.
void SearchAhead(MatchStream& s, Matcher& m, const LineReader& r, std::uint64_t a, const char* from) {
    std::string_view ahead(from, static_cast<std::size_t>(r.buffer.data() + r.end - from));
    if (!s.tuned) {  // the first block read tells which bytes are rare
        TuneMatcher(m, ahead.substr(0, std::size_t{1} << 18));
        s.tuned = true;
    }
    std::size_t at = FindAny(m, ahead, 0);
    s.next = at == std::string_view::npos ? ByteStream::kNone : a + at;
    s.scanned_to = a + ahead.size();
}

// Whether some search string may occur in `line`, the line just read.
bool LineMayMatch(MatchStream& s, Matcher& m, const LineReader& r, std::string_view line) {
    if (m.needles.empty()) return false;
    const std::uint64_t a = r.line_start;
    const std::uint64_t b = a + line.size();
    if (s.next >= a) {
        if (s.next != ByteStream::kNone) return s.next < b;
        if (s.scanned_to >= b) return false;
    }
    SearchAhead(s, m, r, a, line.data());
    return s.next < b;
}

// How far the lines from the reader's position on are known to hold no
// search string, searching ahead once the occurrence found last was consumed.
// After a refill the search starts over at the position, so a string that
// the old buffer end cut is not missed.
std::uint64_t MatchFreeUpTo(MatchStream& s, Matcher& m, const LineReader& r) {
    if (s.next != ByteStream::kNone && s.next >= r.position) return s.next;
    const std::uint64_t buffered_end = r.position + (r.end - r.begin);
    if (s.next != ByteStream::kNone || s.scanned_to < buffered_end)
        SearchAhead(s, m, r, r.position, r.buffer.data() + r.begin);
    return s.next == ByteStream::kNone ? s.scanned_to : s.next;
}

// The strings with their counts, in the order given.
std::vector<StringCount> Counts(const RunState& run) {
    std::vector<StringCount> counts;
    for (const SearchString* s = run.next_srch_string; s; s = s->next_string)
        counts.push_back({std::string(s->allocated_string, static_cast<std::size_t>(s->string_length - 1)),
                          s->matching_lines});
    std::reverse(counts.begin(), counts.end());
    return counts;
}

// When the export's size is unknown (a pipe), the lines processed are shown
// about once a second; the clock is read after each stretch of this many bytes.
constexpr std::uint64_t kClockStride = std::uint64_t{4} << 20;

// The body of a run; Quelvar adds the out-of-memory guard around it.
RunResult Search(Display& display, const RunInputs& in, RunState& run) {
    RunResult result;
    auto now = in.clock ? in.clock : std::function<std::time_t()>([] { return std::time(nullptr); });
    std::int64_t prev_percent = 0;
    bool printed_time = false;
    std::uint64_t line_number = 0;

    run.sink = in.sink;
    if (!(in.strings ? BuildSrchStrings(run, *in.strings, in.word)
                     : BuildSrchStrings(run, in.srch_string, in.word))) {
        display.ShowMessageBox("Unable to initiate the search process due to lack of memory.",
                               "Out of Memory Error");
        result.outcome = RunOutcome::OutOfMemory;
        return result;
    }

    // The log is named after the export unless the caller names it, and never
    // takes the export's place.
    std::string& logfilename = result.logfilename;
    if (in.log_stream) {
        logfilename = in.log_stream_name;
    } else if (!in.logfilename.empty()) {
        logfilename = in.logfilename;
    } else {
        logfilename = LogFileName(in.srchfilename);
        if (SameFile(logfilename, in.srchfilename)) logfilename = in.srchfilename + ".log";
    }

    std::time_t starttime = now();
    std::string start_text = AscTime(starttime);

    if (in.log_stream) {
        run.output_file.file = in.log_stream;
    } else if (!SameFile(logfilename, in.srchfilename) && !IsDirectory(logfilename)) {
        // From here the log belongs to run.output_file, which closes it.
        run.output_file.file = OpenFile(logfilename, "wb");
    }
    if (!run.output_file.file) {
        display.ShowMessageBox("Unable to open output file " + Quoted(logfilename) +
                                   ".  Search aborted at " + start_text + "\n",
                               "Unable to Open Logfile");
        result.outcome = RunOutcome::LogNotOpened;
        return result;
    }
    bool close_log = !in.log_stream;

    AddMsgToOutputFile(run.output_file,
                       "Starting search of file " + Quoted(in.srchfilename) + " on " + start_text);
    AddMsgToOutputFile(run.output_file, "looking for:\n");
    if (in.strings) {
        for (const std::string& text : *in.strings) AddMsgToOutputFile(run.output_file, text + "\n");
    } else {
        AddMsgToOutputFile(run.output_file, in.srch_string);
    }
    AddMsgToOutputFile(run.output_file, "\n");

    FilePtr fptr(in.export_stream || IsDirectory(in.srchfilename)
                     ? nullptr
                     : OpenFile(in.srchfilename, "rb"),
                 [](std::FILE* f) { return f ? std::fclose(f) : 0; });
    std::FILE* export_file = in.export_stream ? in.export_stream : fptr.get();
    if (!export_file) {
        std::string end_message = "Unable to open search file " + Quoted(in.srchfilename) +
                                  ".  Search aborted at " + AscTime(now()) + "\n";
        result.log_complete =
            ListEverything(display, run, logfilename, end_message, end_message, close_log);
        result.counts = Counts(run);
        result.outcome = RunOutcome::ExportNotOpened;
        return result;
    }

    std::optional<std::uint64_t> known_size = in.export_size;
    if (!known_size && !in.export_stream) known_size = ExportSize(in.srchfilename);
    if (known_size) display.SetProgressRange(0, 100);
    const std::uint64_t size = known_size.value_or(0);

    LineReader reader;
    StartLineReader(reader, export_file, in.read_block);
    // The buffer is searched ahead for "<" (tags), zero bytes and the search
    // strings, so most lines need no look of their own.
    ByteStream tag_stream{'<'}, zero_stream{'\0'};
    MatchStream match_stream;
    // The next position where the progress display may change. The file's
    // bytes of a UTF-16 export are at most two per byte read (plus the
    // byte-order mark), so half the file position is reached first.
    auto next_update_at = [&]() -> std::uint64_t {
        if (!known_size) return reader.position + kClockStride;
        if (size == 0 || prev_percent >= 100) return ByteStream::kNone;
        double at = static_cast<double>(size) * static_cast<double>(prev_percent + 1) / 100.0;
        double margin = static_cast<double>(size) / (1 << 20) + 64;  // float rounding
        if (reader.utf16) at = at / 2 - 2;
        return at > margin ? static_cast<std::uint64_t>(at - margin) : 0;
    };
    std::uint64_t next_update = next_update_at();
    bool utf16_seen = false;
    std::time_t lines_shown_at = starttime;
    std::string_view line;
    for (;;) {
        // Lines before the next "<", and inside an element before the next
        // zero byte and the next possible match, change nothing but counts.
        if (line_number > 0) {
            std::uint64_t limit = std::min(FreeUpTo(tag_stream, reader), next_update);
            bool data = run.scanner.next_level == 4;
            if (data && run.matcher.empties.empty() && !run.matcher.needles.empty()) {
                limit = std::min({limit, FreeUpTo(zero_stream, reader),
                                  MatchFreeUpTo(match_stream, run.matcher, reader)});
            } else if (data && !run.matcher.empties.empty()) {
                limit = 0;  // every data line matches
            } else if (data) {
                limit = std::min(limit, FreeUpTo(zero_stream, reader));
            }
            std::int64_t filled = 0;
            SkipLines(reader, limit, line_number, filled);
            if (data) run.context.trigger_line += filled;
        }
        if (!ReadLine(reader, line)) break;
        ++line_number;
        if (reader.utf16 && !utf16_seen) {  // known from the first block on
            utf16_seen = true;
            next_update = next_update_at();
        }
        run.export_line = line_number;
        run.line_offset = FileOffset(reader, reader.line_start);
        LineFacts facts;
        facts.may_hold_tag = LineHolds(tag_stream, reader, line);
        facts.may_hold_zero = LineHolds(zero_stream, reader, line);
        facts.may_match = !run.matcher.empties.empty() ||
                          LineMayMatch(match_stream, run.matcher, reader, line);
        ProcessStream(run, line, facts);
        if (reader.position < next_update) continue;  // the percentage cannot have changed
        if (!known_size) {
            next_update = next_update_at();
            std::time_t t = now();
            if (t == lines_shown_at) continue;
            lines_shown_at = t;
            display.SetProgressText("Processed " + std::to_string(line_number) + " lines");
            continue;
        }
        float float_percent = static_cast<float>(
            100.0 * (static_cast<double>(FileOffset(reader, reader.position)) / static_cast<double>(size)));
        if (float_percent > 100.0f) float_percent = 100.0f;  // the file grew while read
        if (float_percent - static_cast<float>(prev_percent) < 1.0f) continue;

        display.SetProgressText("Processed " + std::to_string(line_number) + " lines");
        std::time_t currtime = now();
        std::int64_t percent = static_cast<std::int64_t>(float_percent);
        auto est_time =
            static_cast<std::int64_t>(100.0 * std::difftime(currtime, starttime) / float_percent);
        auto remaining_time = static_cast<std::int64_t>(
            std::difftime(static_cast<std::time_t>(starttime + est_time), currtime));
        if (remaining_time < 0) remaining_time = 0;  // a clock set back
        if (remaining_time >= 30 || printed_time) {
            printed_time = true;
            display.SetTimeLeft("Estimated time remaining: " + std::to_string(remaining_time / 60) +
                                " min " + std::to_string(remaining_time % 60) + " sec");
        }
        prev_percent = percent;
        next_update = next_update_at();
        display.SetProgressPos(static_cast<int>(percent));
    }
    fptr.reset();
    result.lines = line_number;

    std::string end_message;
    std::string box_reason;
    if (reader.read_error) {
        end_message = "\nSearch of file " + Quoted(in.srchfilename) + " stopped by a read error after " +
                      std::to_string(line_number) + " lines at " + AscTime(now());
        box_reason = end_message.substr(1) + "\n";
        result.outcome = RunOutcome::ReadError;
    } else {
        end_message = "\nEnding search of file " + Quoted(in.srchfilename) + " at " + AscTime(now());
    }
    result.counts = Counts(run);
    for (const StringCount& c : result.counts) result.found = result.found || c.count > 0;
    result.log_complete =
        ListEverything(display, run, logfilename, end_message, box_reason, close_log);
    return result;
}

}  // namespace

RunResult Quelvar(Display& display, const RunInputs& inputs) {
    RunState run;
    RunResult result;
    try {
        result = Search(display, inputs, run);
    } catch (const std::bad_alloc&) {
        // Beyond the strings, only message texts and buffers are allocated;
        // running out there still ends the run with the out-of-memory box.
        CloseLog(run.output_file, !inputs.log_stream);
        result = RunResult{};
        result.outcome = RunOutcome::OutOfMemory;
        display.ShowMessageBox("Unable to initiate the search process due to lack of memory.",
                               "Out of Memory Error");
    }
    DeAllocateEverything(run);
    return result;
}
