// One complete search: builds the strings, names and opens the log, has the
// pipeline read the export, and writes the ending and the summary.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "match_log.h"
#include "paths.h"
#include "pipeline.h"
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

// The strings with their counts, in the order given.
std::vector<StringCount> Counts(const RunState& run) {
    std::vector<StringCount> counts;
    for (const SearchString* s = run.next_srch_string; s; s = s->next_string)
        counts.push_back({std::string(s->allocated_string, static_cast<std::size_t>(s->string_length - 1)),
                          s->matching_lines});
    std::reverse(counts.begin(), counts.end());
    return counts;
}

// Ends a run that was stopped before the end of the export: the log ends
// with a line that says where, the summary is left out (its counts would
// stand for part of the export).
RunResult Interrupted(Display& display, const RunInputs& in, RunState& run, RunResult& result,
                      const std::string& logfilename, bool close_log, const Clock& now) {
    const std::string end_message = "\nSearch of file " + Quoted(in.srchfilename) + " interrupted after " +
                                    std::to_string(result.lines) + " lines at " + AscTime(now());
    AddMsgToOutputFile(run.output_file, end_message);
    result.log_complete = CloseLog(run.output_file, close_log);
    result.outcome = RunOutcome::Interrupted;
    result.counts = Counts(run);
    for (const StringCount& c : result.counts) result.found = result.found || c.count > 0;
    std::string text = end_message.substr(1);
    if (result.log_complete)
        text.append("The hits found before are in output file " + Quoted(logfilename) + "\n");
    else
        text.append("Writing to output file " + Quoted(logfilename) + " failed: the log is incomplete.\n");
    display.ShowMessageBox(text, "Search Interrupted");
    return result;
}

// The body of a run; Quelvar adds the out-of-memory guard around it.
RunResult Search(Display& display, const RunInputs& in, RunState& run) {
    RunResult result;
    const Clock now = in.clock ? in.clock : Clock([] { return std::time(nullptr); });

    run.sink = in.sink;
    if (!in.limits.Empty()) run.limits = &in.limits;
    if (in.sink && (in.lines_before > 0 || in.lines_after > 0)) {
        StartAround(run.around_lines, in.lines_before, in.lines_after);
        run.around = &run.around_lines;
    }
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
    } else if (SameFile(logfilename, in.srchfilename)) {
        result.log_error = "it is the export";
    } else if (IsDirectory(logfilename)) {
        result.log_error = std::make_error_code(std::errc::is_a_directory).message();
    } else if (in.logfilename.empty()) {
        // Named after the export: never written through a link found there,
        // which could point anywhere. From here the log belongs to
        // run.output_file, which closes it.
        run.output_file.file = CreateFileNotThroughLink(logfilename, result.log_error);
    } else {
        errno = 0;
        run.output_file.file = OpenFile(logfilename, "wb");
        if (!run.output_file.file)
            result.log_error = errno ? std::error_code(errno, std::generic_category()).message() : "unknown reason";
    }
    if (!run.output_file.file) {
        display.ShowMessageBox("Unable to open output file " + Quoted(logfilename) +
                                   ".  Search aborted at " + start_text + "\n",
                               "Unable to Open Logfile");
        result.outcome = RunOutcome::LogNotOpened;
        result.counts = Counts(run);
        return result;
    }
    bool close_log = !in.log_stream;
    const bool one_thread = in.single_thread || in.hooks.line_by_line;
    if (!one_thread) StartBackgroundWrites(run.output_file);

    AddMsgToOutputFile(run.output_file,
                       "Starting search of file " + Quoted(in.srchfilename) + " on " + start_text);
    AddMsgToOutputFile(run.output_file, "looking for:\n");
    if (in.strings) {
        for (const std::string& text : *in.strings) AddMsgToOutputFile(run.output_file, text + "\n");
    } else {
        AddMsgToOutputFile(run.output_file, in.srch_string);
    }
    AddMsgToOutputFile(run.output_file, "\n");
    if (run.limits) {  // where the hits were looked for, and an empty line
        AddMsgToOutputFile(run.output_file, DescribeLimits(*run.limits));
        AddMsgToOutputFile(run.output_file, "\n");
    }

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
    Progress progress;
    StartProgress(progress, display, known_size, starttime);
    ExportReader reader;
    StartExportReader(reader, export_file, in.read_block);
    ScanOptions options;
    options.line_by_line = in.hooks.line_by_line;
    options.threads = one_thread ? 1 : in.threads > 0 ? in.threads : static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
    options.delay_seed = in.hooks.delay_seed;
    options.cancel = in.cancel;
    const ScanTotals totals = ScanExport(run, reader, progress, display, now, options);
    fptr.reset();
    result.lines = totals.file_lines;
    const std::uint64_t line_number = totals.reads;

    // A read given up because the run was stopped (a pipe that sent nothing
    // more) is the stop, not a read error.
    if (totals.interrupted || (reader.read_error && in.cancel && in.cancel->load()))
        return Interrupted(display, in, run, result, logfilename, close_log, now);

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
    // A run that could not build its strings still lists every one, with 0.
    if (result.outcome == RunOutcome::OutOfMemory && inputs.strings) {
        try {
            for (const std::string& text : *inputs.strings)
                result.counts.push_back({text.substr(0, kMaxSearchString), 0});
        } catch (const std::bad_alloc&) {
            result.counts.clear();
        }
    }
    return result;
}
