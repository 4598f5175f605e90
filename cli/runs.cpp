// The runs of one command line: one export as it always was, or many at once.
#include "runs.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <map>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "../engine/html_writer.h"
#include "../engine/json_writer.h"
#include "../engine/paths.h"
#include "input.h"
#include "interrupt.h"
#include "output.h"
#include "page_file.h"
#include "print_sink.h"
#include "spool.h"
#include "terminal.h"

namespace {

namespace fs = std::filesystem;

// The lines of the element the page keeps before and after each hit, unless
// -A, -B or -C say otherwise.
constexpr int kPageLinesAround = 20;

// Standard input and output carry bytes, never text that the C runtime of
// Windows would turn CR LF into LF in or out of.
void Binary(std::FILE* f) {
#ifdef _WIN32
    _setmode(_fileno(f), _O_BINARY);
#else
    (void)f;
#endif
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::equivalent(PathOf(a), PathOf(b), ec) && !ec;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

void WriteFailed(const std::string& what) {
    Tell("writing " + what + " failed: " + std::strerror(errno ? errno : EIO));
}

std::optional<std::uint64_t> FileSize(const ExportItem& item) {
    std::error_code ec;
    if (item.from_stdin || !fs::is_regular_file(PathOf(item.name), ec)) return std::nullopt;
    const std::uintmax_t size = fs::file_size(PathOf(item.name), ec);
    if (ec) return std::nullopt;
    return static_cast<std::uint64_t>(size);
}

// The result of an export that was not searched at all: every string
// with 0, as a failed search lists them.
RunResult NotSearched(const RunPlan& plan, RunOutcome outcome) {
    RunResult result;
    result.outcome = outcome;
    for (const std::string& text : plan.strings) result.counts.push_back({text, 0});
    return result;
}

// Where one export's log and records go.
struct Destination {
    std::FILE* log_stream = nullptr;  // when set, the log goes here
    std::string log_stream_name = "standard output";
    std::string logfilename;          // else into this file; empty: named after the export
    std::FILE* json = nullptr;        // the JSON records, when asked for
    std::FILE* print = nullptr;       // the hits as lines of text, when asked for
    HtmlExport* page = nullptr;       // its part of the page, when asked for
    bool separate_first = false;      // hits of an export before were printed: "--" before its first group
    bool* printed = nullptr;          // when set, made true if it printed any hit
    std::uint64_t* matching_lines = nullptr;  // when set, given the count of data lines with a hit
};

// Counts the data lines that hold a string (-c, -l): a line that holds two
// strings counts once, which the strings' own counts cannot tell.
struct LineCounter final : HitSink {
    std::uint64_t lines = 0;
    bool OnHit(const Hit&) override {
        ++lines;
        return true;
    }
};

// Why an export is not searched, and the outcome that gives.
struct NotSearchedAs {
    RunOutcome outcome;
    std::string_view failure;  // empty: the run was interrupted before its turn
};

// The one way an export is searched: its sinks told that it begins, the
// search, and its sinks told how it finished. An export that is not searched
// at all goes through its sinks too, so that it has its records and its
// place on the page.
RunResult SearchExport(const RunPlan& plan, const ExportItem& item, const Destination& to, Display& display,
                       bool& json_ok, std::optional<NotSearchedAs> skip = std::nullopt) {
    // Each sink shows the lines around a hit as far as it is asked to; the
    // search hands over as many as the farthest reaching one shows.
    const int before = std::max(plan.before, 0), after = std::max(plan.after, 0);
    JsonWriter json(to.json);
    json.on_closed = OutputClosed;
    // Records bound for a terminal, now or in their turn, show the export's
    // text escaped, as --print does.
    if (to.json == stdout) {
        json.write = [&plan](std::string_view bytes) {
            return plan.terminal ? WriteOut(stdout, JsonShown(bytes), plan.cancel) : WriteOut(stdout, bytes, plan.cancel);
        };
    } else if (to.json && plan.terminal) {
        json.write = [out = to.json](std::string_view bytes) {
            const std::string shown = JsonShown(bytes);
            return std::fwrite(shown.data(), 1, shown.size(), out) == shown.size();
        };
    }
    json.before = before;
    json.after = after;
    PrintSink print;
    print.out = to.print;
    print.color = plan.color;
    // Escaped whenever colour is on, too: its reader shows escapes (less -R).
    print.escape = plan.terminal || plan.color;
    print.each_line = plan.terminal;  // each hit seen as it is found
    print.on_closed = OutputClosed;
    if (to.print == stdout) print.stop = plan.cancel;
    print.before = before;
    print.after = after;
    print.separate_first = to.separate_first;
    if (to.page) {
        to.page->before = plan.before >= 0 ? plan.before : kPageLinesAround;
        to.page->after = plan.after >= 0 ? plan.after : kPageLinesAround;
    }
    HitSink* text_sink = to.json ? static_cast<HitSink*>(&json) : to.print ? &print : nullptr;
    LineCounter counter;
    HitSink* first = text_sink ? text_sink : to.matching_lines ? &counter : nullptr;
    std::optional<TeeSink> both;
    HitSink* sink = first && to.page ? &both.emplace(first, to.page) : first ? first : to.page;
    RunResult result;
    if (skip) {
        const SearchStart start{item.name, plan.strings, &plan.limits, plan.word, false, skip->failure, {}};
        result = NotSearched(plan, skip->outcome);
        if (sink) {
            sink->Begin(start);
            sink->Finish(result);
        }
    } else {
        RunInputs inputs;
        inputs.srchfilename = item.name;
        inputs.word = plan.word;
        inputs.strings = plan.strings;
        inputs.limits = plan.limits;
        if (item.from_stdin) {
            Binary(stdin);
            inputs.export_stream = stdin;
        }
        inputs.log_stream = to.log_stream;
        inputs.log_stream_name = to.log_stream_name;
        inputs.logfilename = to.logfilename;
        inputs.sink = sink;
        inputs.lines_before = std::max(text_sink ? before : 0, to.page ? to.page->before : 0);
        inputs.lines_after = std::max(text_sink ? after : 0, to.page ? to.page->after : 0);
        inputs.cancel = plan.cancel;
        RunSeams seams;
        seams.read_block = StoppableReader(plan.cancel);  // a pipe that sends nothing holds no stop
        seams.open_export = OpenExportFile;                // nor one that no writer opens
        seams.read_at = PositionedReader();                // a file: each thread reads its blocks
        result = Quelvar(display, inputs, seams);
    }
    if (to.printed && print.last_line != 0) *to.printed = true;
    if (to.matching_lines) *to.matching_lines = counter.lines;
    json_ok = !json.failed && !print.failed;
    return result;
}

// The page of hits, opened before the searches so that a name that cannot
// be written to fails at once. False with a message when it cannot be made.
bool OpenPage(const RunPlan& plan, PageFile& page) {
    std::string error;
    if (OpenPageFile(page, plan.html_name, error)) return true;
    Tell(plan.html_name + ": cannot create the page: " + error);
    return false;
}

bool Interrupted(const RunPlan& plan) { return plan.cancel && plan.cancel->load(); }

// Whether the reader of standard output went away: its failed writes are
// no failure to tell of.
bool OutputWentAway() { return InterruptStatus() == 141; }

// Whether a search is told of on standard error: not once the reader went
// away (| head), for which it stopped or finished as asked, as grep is
// silent there; failures of its own still are.
bool Told(const RunResult& result) {
    return !OutputWentAway() || (result.outcome != RunOutcome::Completed && result.outcome != RunOutcome::Interrupted);
}

// Whether each export gets a line in place of the summary (-c, -l).
bool Listing(const RunPlan& plan) { return plan.count || plan.files_with_matches; }

// An export's line for -c or -l (empty for -l without a hit): NAME:COUNT,
// followed, when there are several strings, by each one's count after a
// tab, in the order given; or NAME. What follows the last ":" is numbers
// alone, whatever the name or the strings hold. On a terminal the name is
// shown escaped, a line feed in it too.
std::string ListingLine(const RunPlan& plan, const std::string& name, std::uint64_t lines, const RunResult& result) {
    if (plan.files_with_matches && lines == 0) return "";
    std::string line;
    if (plan.terminal) {
        for (std::size_t at = 0; at < name.size();) at = AppendShown(line, name, at);
    } else {
        line = name;
    }
    if (plan.count) {
        line += ":" + std::to_string(lines);
        if (result.counts.size() > 1)
            for (const StringCount& c : result.counts) line += "\t" + std::to_string(c.count);
    }
    return line + "\n";
}

// Writes an export's line for -c or -l. False when it did not get through;
// a reader that went away stops the run as it stops --print.
bool WriteListing(const RunPlan& plan, std::string_view line) {
    errno = 0;
    if (line.empty() || (WriteOut(stdout, line, plan.cancel) && std::fflush(stdout) == 0 && !std::ferror(stdout)))
        return true;
    if (errno == ECANCELED) return true;  // stopped, and its reader takes nothing: dropped, as the hits are
    if (errno == EPIPE) OutputClosed();
    return false;
}

// Writes the page and gives it its name; an interrupted run leaves the
// page there was. False with a message when it failed.
bool FinishPage(PageFile& file, const RunPlan& plan, const std::vector<const HtmlExport*>& parts) {
    std::string error;
    if (Interrupted(plan)) return ClosePageFile(file, false, error);
    errno = 0;
    const bool written = WriteHtmlReport(file.file, plan.strings, plan.word, parts, plan.empty_folders, &plan.limits);
    if (!written) error = std::strerror(errno ? errno : EIO);
    // Stopped while it was written: not put in place either.
    const bool ok = ClosePageFile(file, written && !Interrupted(plan), error) && written;
    if (!ok) Tell("writing the page " + Quoted(plan.html_name) + " failed: " + error);
    return ok;
}

// Whether the page would take the place of an export or of a log of the run.
bool PageReplacesSomething(const RunPlan& plan) {
    auto same = [&](const std::string& name) { return name == plan.html_name || SameFile(name, plan.html_name); };
    for (const ExportItem& item : plan.exports) {
        if (item.from_stdin) continue;
        const bool hit = same(item.name) || (!plan.log_given && (same(LogFileName(item.name)) || same(item.name + ".log")));
        if (hit) {
            Tell(plan.html_name + ": the page would replace the export " + Quoted(item.name) + " or its log");
            return true;
        }
    }
    if (plan.log_given && plan.log_name != "-" && same(plan.log_name)) {
        Tell(plan.html_name + ": the page would replace the log");
        return true;
    }
    return false;
}

// Why an export could not be opened, as the system says it: the engine's
// box, the dialog's fixed text, does not say.
std::string OpenFailure(const std::string& name) {
    std::error_code ec;
    if (fs::is_directory(PathOf(name), ec)) return std::make_error_code(std::errc::is_a_directory).message();
    errno = 0;
    if (std::FILE* f = OpenFile(name, "rb")) {
        std::fclose(f);
        return "it could not be opened";  // it can be now
    }
    return std::strerror(errno ? errno : EIO);
}

// An export that was never opened: its reason, and no counts, which would
// claim that it was searched. The log beside it keeps its fixed text.
void PrintNotOpened(const std::string& name, const std::string& reason, const RunResult& result) {
    Tell(name + ": cannot open the export: " + reason);
    if (!result.log_complete) Tell("Writing to output file " + Quoted(result.logfilename) + " failed: the log is incomplete.");
}

// The system's reason for a log that could not be created, which the box
// (the dialog's fixed text) does not give.
void PrintLogError(const RunResult& result, const std::string& prefix) {
    if (result.outcome == RunOutcome::LogNotOpened && !result.log_error.empty())
        Tell(prefix + "cannot create the log " + Quoted(result.logfilename) + ": " + result.log_error);
}

// What the reading noticed that a user should know of the export.
void PrintWarnings(const RunResult& result, const std::string& prefix) {
    if (result.lone_cr)
        std::fprintf(stderr,
                     "reposearch: %swarning: its lines end in a carriage return alone, which ends no line here: "
                     "it was read as one long line (give it CR LF or LF line ends)\n",
                     prefix.c_str());
}

// One export, as it always was searched.
int RunOne(const RunPlan& plan) {
    const ExportItem& item = plan.exports.front();
    const bool failed = !item.failure.empty();  // it cannot be searched at all
    if (failed) Tell(item.name + ": " + item.failure);
    const bool log_to_stdout = (plan.log_given && plan.log_name == "-") || (item.from_stdin && !plan.log_given);
    Destination to;
    if (failed) {
        // no log
    } else if (log_to_stdout) {
        Binary(stdout);
        to.log_stream = stdout;
    } else if (plan.log_given) {
        if (!item.from_stdin && SameFile(plan.log_name, item.name)) {
            Tell(plan.log_name + ": the log would replace the export");
            return 2;
        }
        to.logfilename = plan.log_name;
    }
    if (plan.json) {
        Binary(stdout);
        to.json = stdout;
    }
    if (plan.print) to.print = stdout;
    std::uint64_t matching_lines = 0;
    if (Listing(plan)) to.matching_lines = &matching_lines;
    HtmlExport page;
    PageFile page_file;
    if (plan.html_given) {
        if (!OpenPage(plan, page_file)) return 2;
        page.size = FileSize(item);
        to.page = &page;
    }
    bool json_ok = true;
    if (failed) {  // its records and its place on the page
        TerminalDisplay none;
        SearchExport(plan, item, to, none, json_ok, NotSearchedAs{RunOutcome::ExportNotOpened, item.failure});
        if (!json_ok && !OutputWentAway()) WriteFailed(plan.json ? "the JSON records" : "the hits");
        if (plan.html_given) FinishPage(page_file, plan, {&page});
        return 2;
    }
    TerminalDisplay display;
    display.show_progress = plan.show_progress;
    // A log on the terminal shows the export's text escaped, as --print does.
    ShownStream shown;
    if (to.log_stream == stdout && plan.terminal && StartShownStream(shown, stdout)) to.log_stream = shown.in;
    const RunResult result = SearchExport(plan, item, to, display, json_ok);
    const bool log_shown = EndShownStream(shown);
    if (!log_shown) WriteFailed("the log");
    const bool completed = result.outcome == RunOutcome::Completed && result.log_complete && log_shown;
    const bool page_ok = !plan.html_given || FinishPage(page_file, plan, {&page});
    display.line.Erase();
    bool printed = true;
    const bool listed =
        !completed || !Listing(plan) || WriteListing(plan, ListingLine(plan, item.name, matching_lines, result));
    if (!listed && !OutputWentAway()) WriteFailed(plan.count ? "the count" : "the name");
    if (result.outcome == RunOutcome::ExportNotOpened) PrintNotOpened(item.name, OpenFailure(item.name), result);
    if (result.outcome == RunOutcome::ExportNotOpened || !Told(result)) display.boxes.clear();
    for (const Box& box : display.boxes) {
        if (!completed)
            PrintFailure(box, "");
        else if (Interrupted(plan))  // what finished, told where nothing more is awaited
            printed = WriteAll(stderr, box.text) && printed;
        else if (!plan.json && !Listing(plan))  // the summary, beside the log or in its place
            printed = WriteAll(log_to_stdout || plan.print ? stderr : stdout, box.text) && printed;
    }
    PrintLogError(result, "");
    PrintWarnings(result, item.name + ": ");
    if (!json_ok && !OutputWentAway()) WriteFailed(plan.json ? "the JSON records" : "the hits");
    if (!printed) WriteFailed("the summary");
    if (!completed || !json_ok || !printed || !listed || !page_ok) return 2;
    return result.found ? 0 : 1;
}

// ---- Many exports ----

struct Job {
    const ExportItem* item = nullptr;
    std::string logfilename;  // beside the export; empty: into the run's one log
    std::uint64_t size = 0;   // of the file, 0 when unknown
    // What the run left.
    std::string failure;  // why it was not searched at all
    std::string open_failure;  // why the export could not be opened (ExportNotOpened)
    RunOutcome failed_as = RunOutcome::ExportNotOpened;  // the outcome that failure gives
    bool ran = false;
    bool not_started = false;  // the run was interrupted before its turn
    RunResult result;
    std::vector<Box> boxes;
    bool json_ok = true;
    HtmlExport page;                  // its part of the page, when there is one
    std::FILE* log_spool = nullptr;   // waiting for the run's one log
    std::FILE* json_spool = nullptr;  // waiting for standard output
    bool printed = false;             // it printed hits (--print)
    std::uint64_t matching_lines = 0;  // its data lines with a hit (-c, -l)
    bool done = false;
    std::atomic<int> percent{0};
};

// A job's display: the percentage for the run's progress line, the boxes
// kept for when its turn comes.
struct JobDisplay final : Display {
    Job& job;
    explicit JobDisplay(Job& j) : job(j) {}
    void SetProgressRange(int, int) override {}
    void SetProgressText(std::string_view) override {}
    void SetTimeLeft(std::string_view) override {}
    void SetProgressPos(int percent) override { job.percent.store(percent, std::memory_order_relaxed); }
    void ShowMessageBox(std::string_view text, std::string_view caption) override {
        job.boxes.push_back({std::string(text), std::string(caption)});
    }
};

bool Completed(const Job& job) {
    return job.failure.empty() && job.ran && job.result.outcome == RunOutcome::Completed && job.result.log_complete &&
           job.json_ok;
}

// Why a search that ran did not complete, in a few words.
std::string WhatFailed(const Job& job) {
    if (!job.failure.empty()) return job.failure;
    switch (job.result.outcome) {
    case RunOutcome::OutOfMemory: return "out of memory";
    case RunOutcome::LogNotOpened:
        return "the log could not be created" + (job.result.log_error.empty() ? "" : ": " + job.result.log_error);
    case RunOutcome::ExportNotOpened: return "cannot open the export: " + job.open_failure;
    case RunOutcome::ReadError: return "a read error stopped it";
    case RunOutcome::Interrupted: return "interrupted after " + std::to_string(job.result.lines) + " lines";
    case RunOutcome::Completed: break;
    }
    return job.result.log_complete ? "the JSON records could not be written" : "the log is incomplete";
}

// Where a path leads, as one text for each place: links and "." resolved,
// and on Windows, whose file names ignore case, upper-cased.
std::string Place(const std::string& path) {
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(PathOf(path), ec);
    std::string place = ec ? path : Utf8Of(canonical);
#ifdef _WIN32
    for (char& c : place)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
#endif
    return place;
}

// The log names beside the exports: the rule of one export, unless that
// names another export of the run or a log taken already (a.b.xml and a.c.xml
// both give a.log); then the export's whole name with ".log". An export no
// name is left for fails with a message that says what holds each name.
void NameLogs(std::vector<Job>& jobs) {
    std::map<std::string, std::string> taken;  // place: what holds it (an export, then the logs)
    for (const Job& job : jobs)
        if (!job.item->from_stdin) taken.emplace(Place(job.item->name), "the export " + Quoted(job.item->name));
    for (Job& job : jobs) {
        if (job.item->from_stdin || !job.failure.empty()) continue;
        const std::string first = LogFileName(job.item->name);
        const auto held = taken.find(Place(first));
        std::string name = held == taken.end() ? first : job.item->name + ".log";
        const auto [at, added] = taken.emplace(Place(name), "the log of " + Quoted(job.item->name));
        if (!added) {
            job.failure = "no name is left for its log: " + Quoted(first) + " is " + held->second;
            job.failed_as = RunOutcome::LogNotOpened;
            if (Place(name) != Place(first)) job.failure += " and " + Quoted(name) + " " + at->second;
            continue;
        }
        job.logfilename = name;
    }
}

// The run over several exports: the jobs, the outputs they share, and the
// turn of the next to be written out.
struct ManyRuns {
    explicit ManyRuns(const RunPlan& plan) : plan_(plan), jobs_(plan.exports.size()) {}
    int Run();
    void Work();
    void RunJob(std::size_t k, bool direct);
    void WaitForTurn(std::size_t k);
    void Emit(Job& job);
    void DrawProgress();
    std::vector<StringCount> Totals() const;
    std::string Summary(const std::vector<StringCount>& totals) const;

    const RunPlan& plan_;
    std::vector<Job> jobs_;
    std::FILE* shared_log_ = nullptr;  // the run's one log, when there is one
    std::string shared_log_name_;
    bool log_file_opened_ = false;     // shared_log_ is a file this run opened
    ShownStream shown_log_;            // the run's one log on a terminal, when it is
    PageFile page_file_;               // the page of hits, when asked for
    std::unique_ptr<PageBudget> page_budget_;  // what its parts may keep
    bool output_failed_ = false;       // something printed did not get through
    bool printed_ = false;             // hits were printed (--print) by the exports written out
    bool listing_failed_ = false;      // a line of -c or -l did not get through (told once)
    std::mutex mutex_;
    std::condition_variable emitted_;
    std::size_t next_job_ = 0, next_emit_ = 0, done_ = 0;
    ProgressLine line_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Until every export before the k-th is written out: then the k-th writes
// straight to the run's outputs.
void ManyRuns::WaitForTurn(std::size_t k) {
    std::unique_lock<std::mutex> lock(mutex_);
    emitted_.wait(lock, [&] { return next_emit_ == k; });
}

void ManyRuns::RunJob(std::size_t k, bool direct) {
    Job& job = jobs_[k];
    const ExportItem& item = *job.item;
    if (!job.failure.empty()) return;  // its records are written in its turn
    // Its own log, beside it: opened as the search opens one it names after
    // the export, never through a link found there.
    std::FILE* own_log = nullptr;
    if (!job.logfilename.empty()) {
        std::string error;
        if (!(own_log = CreateFileNotThroughLink(job.logfilename, error))) {
            job.failure = "cannot create the log " + Quoted(job.logfilename) + ": " + error;
            job.failed_as = RunOutcome::LogNotOpened;
            return;
        }
    }
    // Output that waits its turn goes to temporary files; without them the
    // search waits for its turn instead.
    if (!direct && ((job.logfilename.empty() && !(job.log_spool = OpenSpool())) ||
                    ((plan_.json || plan_.print) && !(job.json_spool = OpenSpool())))) {
        if (job.log_spool) std::fclose(job.log_spool);
        if (job.json_spool) std::fclose(job.json_spool);
        job.log_spool = job.json_spool = nullptr;
        WaitForTurn(k);
        direct = true;
    }
    Destination to;
    if (job.logfilename.empty()) {
        to.log_stream = direct ? shared_log_ : job.log_spool;
        to.log_stream_name = shared_log_name_;
    } else {
        to.log_stream = own_log;
        to.log_stream_name = job.logfilename;
    }
    if (plan_.json) to.json = direct ? stdout : job.json_spool;
    if (plan_.print) to.print = direct ? stdout : job.json_spool;
    // Groups of hits are apart from those of the exports before, as within
    // one; a spooled export's "--" is written in its turn.
    to.separate_first = direct && printed_;
    to.printed = &job.printed;
    if (Listing(plan_)) to.matching_lines = &job.matching_lines;
    if (page_file_.file) to.page = &job.page;
    JobDisplay display(job);
    job.result = SearchExport(plan_, item, to, display, job.json_ok);
    if (own_log && std::fclose(own_log) != 0) job.result.log_complete = false;
    job.ran = true;
    if (job.result.outcome == RunOutcome::ExportNotOpened) job.open_failure = OpenFailure(item.name);
}

// Writes out what a finished job left, in its turn.
void ManyRuns::Emit(Job& job) {
    line_.Erase();
    if (job.log_spool && !DrainSpool(job.log_spool, shared_log_)) {
        WriteFailed("the log " + Quoted(shared_log_name_));
        output_failed_ = true;
    }
    errno = 0;
    if (job.json_spool && job.printed && printed_ && (plan_.before > 0 || plan_.after > 0))
        WriteOut(stdout, "--\n", plan_.cancel);
    printed_ = printed_ || job.printed;
    if (job.json_spool && !DrainSpool(job.json_spool, stdout, plan_.cancel) && errno != ECANCELED &&
        (errno != EPIPE || (OutputClosed(), false))) {
        WriteFailed(plan_.json ? "the JSON records" : "the hits");
        output_failed_ = true;
    }
    job.log_spool = job.json_spool = nullptr;
    const std::string prefix = job.item->name + ": ";
    if (job.ran) PrintWarnings(job.result, prefix);
    if (!job.failure.empty() || job.not_started) {
        if (!job.failure.empty()) Tell(prefix + job.failure);
        // Its records and its place on the page, in its turn.
        Destination to;
        if (plan_.json) to.json = stdout;
        if (page_file_.file) to.page = &job.page;
        const NotSearchedAs why{job.not_started ? RunOutcome::Interrupted : job.failed_as, job.failure};
        JobDisplay none(job);
        bool json_ok = true;
        job.result = SearchExport(plan_, *job.item, to, none, json_ok, why);
        if (!json_ok && !OutputWentAway()) {
            WriteFailed("the JSON records");
            output_failed_ = true;
        }
    } else if (!Completed(job) && Told(job.result)) {
        if (job.result.outcome == RunOutcome::ExportNotOpened) {
            PrintNotOpened(job.item->name, job.open_failure, job.result);
        } else {
            for (const Box& box : job.boxes) PrintFailure(box, prefix);
            PrintLogError(job.result, prefix);
        }
        if (!job.json_ok && !OutputWentAway())
            Tell(prefix + "writing the JSON records failed");
    }
    if (Completed(job) && Listing(plan_) &&
        !WriteListing(plan_, ListingLine(plan_, job.item->name, job.matching_lines, job.result))) {
        if (!listing_failed_ && !OutputWentAway()) WriteFailed(plan_.count ? "the counts" : "the names");
        listing_failed_ = output_failed_ = true;
    }
}

void ManyRuns::Work() {
    for (;;) {
        std::size_t k;
        bool direct;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (next_job_ == jobs_.size()) return;
            k = next_job_++;
            // The first export not yet written out writes straight to the
            // run's outputs; the others wait in temporary files.
            direct = next_emit_ == k;
        }
        if (Interrupted(plan_))
            jobs_[k].not_started = true;  // its records say so in its turn
        else
            RunJob(k, direct);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_[k].done = true;
            ++done_;
            while (next_emit_ < jobs_.size() && jobs_[next_emit_].done) Emit(jobs_[next_emit_++]);
        }
        emitted_.notify_all();
    }
}

void ManyRuns::DrawProgress() {
    std::uint64_t total = 0, read = 0;
    for (const Job& job : jobs_) {
        total += job.size;
        read += job.done ? job.size : job.size / 100 * static_cast<std::uint64_t>(job.percent.load(std::memory_order_relaxed));
    }
    const int percent = total ? static_cast<int>(read * 100 / total) : 0;
    std::string text = total ? ProgressBar(percent) : "";
    text += std::to_string(done_) + " of " + std::to_string(jobs_.size()) + " exports";
    auto mb = [](std::uint64_t bytes) {
        char out[32];
        std::snprintf(out, sizeof out, "%.1f", static_cast<double>(bytes) / (1 << 20));
        return std::string(out);
    };
    if (total) text += ", " + mb(read) + " of " + mb(total) + " MB read";
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    if (read > 0 && read < total && elapsed >= 2) {
        const auto left = static_cast<std::uint64_t>(elapsed * static_cast<double>(total - read) / static_cast<double>(read));
        text += "  Estimated time remaining: " + std::to_string(left / 60) + " min " + std::to_string(left % 60) + " sec";
    }
    line_.Draw(text);
}

// Each string's count over the searches that ran.
std::vector<StringCount> ManyRuns::Totals() const {
    std::vector<StringCount> totals;
    for (const std::string& text : plan_.strings) totals.push_back({text, 0});
    for (const Job& job : jobs_) {
        if (!job.ran) continue;
        for (std::size_t i = 0; i < totals.size() && i < job.result.counts.size(); ++i)
            totals[i].count += job.result.counts[i].count;
    }
    return totals;
}

// Each export with its log and counts (or why it failed), then the totals.
std::string ManyRuns::Summary(const std::vector<StringCount>& totals) const {
    auto counts = [](const std::vector<StringCount>& list) {
        std::string lines;
        for (const StringCount& c : list) lines += Quoted(c.text) + " found " + std::to_string(c.count) + " times\n";
        return lines;
    };
    std::string out;
    std::size_t completed = 0, interrupted = 0;
    for (const Job& job : jobs_) {
        completed += Completed(job);
        out += Quoted(job.item->name);
        if (job.ran) out += ", log " + Quoted(job.result.logfilename);
        if (job.not_started || (job.ran && job.result.outcome == RunOutcome::Interrupted)) {
            ++interrupted;
            out += job.ran ? ", " + WhatFailed(job) : ", not searched: the run was interrupted";
        } else if (!Completed(job)) {
            out += ", failed: " + WhatFailed(job);
        }
        const bool searched = job.ran && job.result.outcome != RunOutcome::ExportNotOpened;
        out += searched ? ":\n" + counts(job.result.counts) + "\n" : "\n\n";
    }
    out += "Totals over " + std::to_string(jobs_.size()) + (jobs_.size() == 1 ? " export (" : " exports (") + std::to_string(completed) + " completed, " +
           std::to_string(jobs_.size() - completed - interrupted) + " failed" +
           (interrupted ? ", " + std::to_string(interrupted) + " interrupted" : "") + "):\n" + counts(totals);
    return out;
}

int ManyRuns::Run() {
    for (const std::string& folder : plan_.empty_folders)
        Tell(folder + ": the folder holds no .xml file");
    // Where the logs go: beside each export, or all into one; the log of
    // standard input goes to standard output unless --log names a file.
    bool log_on_stdout = plan_.log_given && plan_.log_name == "-";
    if (plan_.log_given && !log_on_stdout) {
        for (const ExportItem& item : plan_.exports) {
            if (!item.from_stdin && SameFile(plan_.log_name, item.name)) {
                Tell(plan_.log_name + ": the log would replace the export");
                return 2;
            }
        }
        if (!(shared_log_ = OpenFile(plan_.log_name, "wb"))) {
            Tell(plan_.log_name + ": cannot create the log: " + std::strerror(errno));
            return 2;
        }
        log_file_opened_ = true;
        shared_log_name_ = plan_.log_name;
    } else {
        shared_log_ = stdout;
        shared_log_name_ = "standard output";
    }
    if (plan_.html_given && !OpenPage(plan_, page_file_)) {
        if (log_file_opened_) std::fclose(shared_log_);
        return 2;
    }
    if (page_file_.file) page_budget_ = std::make_unique<PageBudget>(jobs_.size());
    for (std::size_t k = 0; k < jobs_.size(); ++k) {
        Job& job = jobs_[k];
        job.item = &plan_.exports[k];
        job.failure = job.item->failure;
        if (job.item->from_stdin) {
            Binary(stdin);
            log_on_stdout = log_on_stdout || !plan_.log_given;
        }
        job.size = FileSize(*job.item).value_or(0);
        if (page_file_.file) {
            job.page.size = FileSize(*job.item);
            job.page.budget = page_budget_.get();
            job.page.index = k;
        }
    }
    if (!plan_.log_given) NameLogs(jobs_);
    if (log_on_stdout || plan_.json) Binary(stdout);
    // A log on the terminal shows the export's text escaped, as --print does.
    if (log_on_stdout && plan_.terminal && StartShownStream(shown_log_, stdout)) shared_log_ = shown_log_.in;

    // The workers; the caller draws the progress meanwhile, or works alone
    // when no thread starts.
    std::vector<std::thread> workers;
    const std::size_t wanted = std::min<std::size_t>(static_cast<std::size_t>(plan_.jobs), jobs_.size());
    for (std::size_t i = 0; i < wanted; ++i) {
        try {
            workers.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            break;
        }
    }
    if (workers.empty()) Work();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (next_emit_ < jobs_.size()) {
            emitted_.wait_for(lock, std::chrono::milliseconds(250));
            if (plan_.show_progress && next_emit_ < jobs_.size()) DrawProgress();
        }
        line_.Erase();
    }
    for (std::thread& t : workers) t.join();

    std::size_t completed = 0;
    for (const Job& job : jobs_) completed += Completed(job);
    const std::size_t failed = jobs_.size() - completed;
    const std::vector<StringCount> totals = Totals();
    bool found = false;
    for (const StringCount& c : totals) found = found || c.count > 0;
    if (page_file_.file) {
        std::vector<const HtmlExport*> parts;
        for (const Job& job : jobs_) parts.push_back(&job.page);
        output_failed_ = !FinishPage(page_file_, plan_, parts) || output_failed_;
    }
    if (log_file_opened_ && std::fclose(shared_log_) != 0) {
        WriteFailed("the log " + Quoted(shared_log_name_));
        output_failed_ = true;
    }
    if (!EndShownStream(shown_log_)) {
        WriteFailed("the log");
        output_failed_ = true;
    }
    if (jobs_.empty()) Tell("no export to search");
    if (plan_.json) {
        JsonWriter json(stdout);
        json.write = [this](std::string_view bytes) {
            return plan_.terminal ? WriteOut(stdout, JsonShown(bytes), plan_.cancel) : WriteOut(stdout, bytes, plan_.cancel);
        };
        if (!JsonSummary(json, completed, failed, totals)) {
            if (!OutputWentAway()) WriteFailed("the JSON records");
            output_failed_ = true;
        }
    } else if (!jobs_.empty() && !OutputWentAway() && (!Listing(plan_) || Interrupted(plan_)) &&
               !WriteAll(log_on_stdout || plan_.print || Interrupted(plan_) ? stderr : stdout, Summary(totals))) {
        WriteFailed("the summary");
        output_failed_ = true;
    }
    if (failed > 0 || output_failed_ || jobs_.empty() || Interrupted(plan_)) return 2;  // nothing searched at all is no "not found"
    return found ? 0 : 1;
}

}  // namespace

int RunExports(const RunPlan& plan) {
    if (plan.html_given && PageReplacesSomething(plan)) return 2;
    if (!plan.many) return RunOne(plan);
    ManyRuns runs(plan);
    return runs.Run();
}
