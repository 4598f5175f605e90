// One complete search: builds the strings, names and opens the log, has the
// pipeline read the export, and ends the log and the sinks.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "search_run.h"

#include "around.h"
#include "log_writer.h"
#include "paths.h"
#include "run_state.h"

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
    // Searches may run side by side: the local time into a struct of our own.
    std::tm local{};
#ifdef _WIN32
    const std::tm* tm = localtime_s(&local, &t) == 0 ? &local : nullptr;
#else
    const std::tm* tm = localtime_r(&t, &local);
#endif
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
    // Leading dots belong to the name (".hidden.xml" gives ".hidden.log"):
    // cut there, two hidden exports would share ".log".
    std::size_t stem = name;
    while (stem < srchfilename.size() && srchfilename[stem] == '.') ++stem;
    std::size_t dot = srchfilename.find('.', stem);
    std::string log(srchfilename.substr(0, dot));
    log.append(".log");
    return log;
}

namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The export opened, unless a stream was given in its place (then null, as
// for a folder or a file that cannot be opened, errno saying why).
FilePtr OpenExport(const RunInputs& in, const RunSeams& seams) {
    std::FILE* f = in.export_stream || IsDirectory(in.srchfilename) ? nullptr
                   : seams.open_export                             ? seams.open_export(in.srchfilename)
                                                                   : OpenFile(in.srchfilename, "rb");
    return FilePtr(f, [](std::FILE* file) { return file ? std::fclose(file) : 0; });
}

// What the search and the check read the export with: its size where known,
// and the threads that read and index its blocks.
std::optional<std::uint64_t> KnownSize(const RunInputs& in) {
    if (in.export_size || in.export_stream) return in.export_size;
    return ExportSize(in.srchfilename);
}

// The reader of an opened export: read at offsets when its size is known
// and the front end can.
void StartReader(ExportReader& reader, std::FILE* file, const RunInputs& in, const RunSeams& seams) {
    StartExportReader(reader, file, seams.read_block);
    if (seams.read_at && KnownSize(in)) reader.read_at = seams.read_at;
    reader.sizes = seams.block_sizes;
}

int ReadingThreads(const RunInputs& in) {
    return in.single_thread ? 1
           : in.threads > 0 ? in.threads
                            : static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
}

std::vector<StringCount> Counts(const RunState& run) {
    std::vector<StringCount> counts;
    for (const SearchString& s : run.output.strings) counts.push_back({s.allocated_string, s.matching_lines});
    return counts;
}

// The run's sinks: the log writer, begun once the log is open, and the
// caller's, begun before anything can fail.
struct Sinks {
    LogWriter* log_writer = nullptr;
    HitSink* caller = nullptr;
    bool caller_begun = false;
    LogWriter* log = nullptr;  // the log writer once begun, until it is finished
};

// Ends the run: the sinks told how it went, the log closed and the summary
// shown, after `box_reason` when the search did not end normally.
void ListEverything(Display& display, RunState& run, Sinks& sinks, RunResult& result, bool close_log,
                    std::string_view box_reason) {
    result.counts = Counts(run);
    for (const StringCount& c : result.counts) result.found = result.found || c.count > 0;
    LogStream& log = *sinks.log->log;
    sinks.log->Finish(result);
    sinks.log = nullptr;
    result.log_complete = CloseLog(log, close_log);
    const std::string quoted = Quoted(result.logfilename);
    if (result.outcome == RunOutcome::Interrupted) {
        std::string text = result.end_message.substr(1);
        if (result.log_complete)
            text.append("The hits found before are in output file " + quoted + "\n");
        else
            text.append("Writing to output file " + quoted + " failed: the log is incomplete.\n");
        display.ShowMessageBox(text, "Search Interrupted");
        return;
    }
    std::string text(box_reason);
    text.append(SummaryText(result.counts));
    if (result.log_complete)
        text.append("\n\nSee full results in output file " + quoted + "\n");
    else
        text.append("\n\nWriting to output file " + quoted + " failed: the log is incomplete.\n");
    display.ShowMessageBox(text, "Result Summary");
}

// The body of a run; Quelvar adds the out-of-memory guard around it.
void Search(Display& display, const RunInputs& in, const RunSeams& seams, RunState& run, LogStream& log,
            Sinks& sinks, RunResult& result) {
    const Clock now = seams.clock ? seams.clock : Clock([] { return std::time(nullptr); });
    Query& q = run.query;
    q.strings = in.strings ? *in.strings : BuildSrchStrings(in.srch_string);
    for (const std::string& text : q.strings) run.output.strings.push_back({text, 0});
    BuildMatcher(q.matcher, q.strings, in.word);
    if (!in.limits.Empty()) q.limits = &in.limits;
    if (in.lines_before > 0 || in.lines_after > 0) {
        StartAround(run.around, in.lines_before, in.lines_after);
        run.around_sought = true;
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

    const std::time_t starttime = now();
    const std::string start_text = AscTime(starttime);
    const SearchStart start{in.srchfilename, q.strings, q.limits, in.word, true, {}, start_text};
    if (sinks.caller) sinks.caller->Begin(start);
    sinks.caller_begun = true;

    if (in.log_stream) {
        log.file = in.log_stream;
    } else if (SameFile(logfilename, in.srchfilename)) {
        result.log_error = "it is the export";
    } else if (IsDirectory(logfilename)) {
        result.log_error = std::make_error_code(std::errc::is_a_directory).message();
    } else if (in.logfilename.empty()) {
        // Named after the export: never written through a link found there,
        // which could point anywhere. From here the log belongs to `log`,
        // which closes it.
        log.file = CreateFileNotThroughLink(logfilename, result.log_error);
    } else {
        errno = 0;
        log.file = OpenFile(logfilename, "wb");
        if (!log.file)
            result.log_error = errno ? std::error_code(errno, std::generic_category()).message() : "unknown reason";
    }
    if (!log.file) {
        display.ShowMessageBox("Unable to open output file " + Quoted(logfilename) + ".  Search aborted at " +
                                   start_text + "\n",
                               "Unable to Open Logfile");
        result.outcome = RunOutcome::LogNotOpened;
        result.counts = Counts(run);
        return;
    }
    const bool close_log = !in.log_stream;
    const bool one_thread = in.single_thread;
    if (!one_thread) StartBackgroundWrites(log);
    sinks.log = sinks.log_writer;
    sinks.log->Begin(start);

    FilePtr fptr = OpenExport(in, seams);
    std::FILE* export_file = in.export_stream ? in.export_stream : fptr.get();
    if (!export_file) {
        result.outcome = RunOutcome::ExportNotOpened;
        result.end_message =
            "Unable to open search file " + Quoted(in.srchfilename) + ".  Search aborted at " + AscTime(now()) + "\n";
        ListEverything(display, run, sinks, result, close_log, result.end_message);
        return;
    }

    Progress progress;
    StartProgress(progress, display, KnownSize(in), starttime);
    ExportReader reader;
    StartReader(reader, export_file, in, seams);
    ScanOptions options;
    options.threads = ReadingThreads(in);
    options.pause = seams.pause;
    options.cancel = in.cancel;
    const ScanTotals totals = ScanExport(run, reader, progress, display, now, options);
    fptr.reset();
    result.lines = totals.file_lines;
    result.lone_cr = reader.lone_cr;

    std::string box_reason;
    // A read given up because the run was stopped (a pipe that sent nothing
    // more) is the stop, not a read error.
    if (totals.interrupted || (reader.read_error && in.cancel && in.cancel->load())) {
        // The log ends with a line that says where; the summary is left out
        // (its counts would stand for part of the export).
        result.outcome = RunOutcome::Interrupted;
        result.end_message = "\nSearch of file " + Quoted(in.srchfilename) + " interrupted after " +
                             std::to_string(result.lines) + " lines at " + AscTime(now());
    } else if (reader.read_error) {
        result.outcome = RunOutcome::ReadError;
        result.end_message = "\nSearch of file " + Quoted(in.srchfilename) + " stopped by a read error after " +
                             std::to_string(totals.reads) + " lines at " + AscTime(now());
        box_reason = result.end_message.substr(1) + "\n";
    } else {
        result.end_message = "\nEnding search of file " + Quoted(in.srchfilename) + " at " + AscTime(now());
    }
    ListEverything(display, run, sinks, result, close_log, box_reason);
}

}  // namespace

RunResult Quelvar(Display& display, const RunInputs& inputs, const RunSeams& seams) {
    RunState run;
    LogStream log;
    LogWriter log_writer(&log);
    Sinks sinks{&log_writer, inputs.sink};
    RunResult result;
    try {
        run.output.sinks.push_back(&log_writer);
        if (inputs.sink) run.output.sinks.push_back(inputs.sink);
        Search(display, inputs, seams, run, log, sinks, result);
    } catch (const std::bad_alloc&) {
        // Beyond the strings, only message texts and buffers are allocated;
        // running out there still ends the run with the out-of-memory box.
        CloseLog(log, !inputs.log_stream);
        RunResult failed;  // swapped, so what the run had allocated goes with it
        std::swap(result, failed);
        result.outcome = RunOutcome::OutOfMemory;
        sinks.log = nullptr;
        display.ShowMessageBox("Unable to initiate the search process due to lack of memory.",
                               "Out of Memory Error");
        // A run that could not build its strings still lists every one, with 0.
        if (inputs.strings) {
            try {
                for (const std::string& text : *inputs.strings) result.counts.push_back({text, 0});
            } catch (const std::bad_alloc&) {
                result.counts.clear();
            }
        }
    }
    if (sinks.caller) {
        if (!sinks.caller_begun) {
            const std::vector<std::string> none;
            const SearchStart start{inputs.srchfilename, inputs.strings ? *inputs.strings : none,
                                    inputs.limits.Empty() ? nullptr : &inputs.limits, inputs.word, true, {}, {}};
            sinks.caller->Begin(start);
        }
        sinks.caller->Finish(result);
    }
    return result;
}

CheckResult CheckExport(Display& display, const RunInputs& in, const RunSeams& seams) {
    CheckResult result;
    const Clock now = seams.clock ? seams.clock : Clock([] { return std::time(nullptr); });
    errno = 0;
    FilePtr fptr = OpenExport(in, seams);
    std::FILE* export_file = in.export_stream ? in.export_stream : fptr.get();
    if (!export_file) {
        result.outcome = RunOutcome::ExportNotOpened;
        result.error = IsDirectory(in.srchfilename) ? std::make_error_code(std::errc::is_a_directory).message()
                       : errno ? std::error_code(errno, std::generic_category()).message()
                               : "unknown reason";
        return result;
    }
    RunState run;
    Progress progress;
    StartProgress(progress, display, KnownSize(in), now());
    ExportReader reader;
    StartReader(reader, export_file, in, seams);
    ScanOptions options;
    options.threads = ReadingThreads(in);
    options.pause = seams.pause;
    options.cancel = in.cancel;
    options.check = &result.found;
    try {
        const ScanTotals totals = ScanExport(run, reader, progress, display, now, options);
        result.lines = totals.file_lines;
        if (totals.interrupted || (reader.read_error && in.cancel && in.cancel->load()))
            result.outcome = RunOutcome::Interrupted;
        else if (reader.read_error)
            result.outcome = RunOutcome::ReadError;
    } catch (const std::bad_alloc&) {
        result.outcome = RunOutcome::OutOfMemory;
    }
    return result;
}
