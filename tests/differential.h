// Whole searches held against reading line by line: what a search leaves
// behind (log, JSON records, counts, progress shown) and where two of them
// differ. Shared by the differential tests and the soak.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "json_writer.h"
#include "search.h"

namespace differential {

struct Outputs {
    RunOutcome outcome = RunOutcome::Completed;
    std::string log, json;
    std::vector<StringCount> counts;
    std::uint64_t lines = 0;
    std::vector<std::string> shown;  // the display calls, in order
};

struct Search {
    std::vector<std::string> strings;
    bool word = false;
    int before = 0, after = 0;  // lines of the element around each hit, as JSON context records
    std::vector<std::string> in, not_in;  // limits, as FIELD=PATTERNS
};

enum class Mode { LineByLine, OneThread, TwoThreads };

// Records the display calls.
struct ShownDisplay final : Display {
    std::vector<std::string>& calls;
    explicit ShownDisplay(std::vector<std::string>& c) : calls(c) {}
    void SetProgressRange(int low, int high) override {
        calls.push_back("range " + std::to_string(low) + " " + std::to_string(high));
    }
    void SetProgressPos(int percent) override { calls.push_back("pos " + std::to_string(percent)); }
    void SetProgressText(std::string_view text) override { calls.push_back("text " + std::string(text)); }
    void SetTimeLeft(std::string_view text) override { calls.push_back("time " + std::string(text)); }
    void ShowMessageBox(std::string_view text, std::string_view caption) override {
        calls.push_back("box " + std::string(caption) + ": " + std::string(text));
    }
};

// Searches the export at `path`, the log going to `log_path`. The clock
// moves a second at every reading, so the time left is shown too and every
// reading of it counts.
inline Outputs RunSearch(const std::string& path, const std::string& log_path, const Search& search, Mode mode,
                         std::uint64_t delay_seed = 0) {
    Outputs o;
    ShownDisplay display(o.shown);
    std::time_t clock = 1796633400;
    std::FILE* json_file = std::tmpfile();
    if (!json_file) {
        o.outcome = RunOutcome::OutOfMemory;
        return o;
    }
    RunInputs in;
    std::string error;
    for (const std::string& limit : search.in) AddLimit(in.limits, limit, true, error);
    for (const std::string& limit : search.not_in) AddLimit(in.limits, limit, false, error);
    JsonWriter json(json_file);
    json.before = search.before;
    json.after = search.after;
    JsonBegin(json, path, search.strings, &in.limits);
    in.lines_before = search.before;
    in.lines_after = search.after;
    in.clock = [&clock] { return clock++; };
    in.strings = search.strings;
    in.word = search.word;
    in.srchfilename = path;
    in.logfilename = log_path;
    in.sink = &json;
    in.single_thread = mode == Mode::OneThread;
    in.hooks.line_by_line = mode == Mode::LineByLine;
    in.hooks.delay_seed = delay_seed;
    const RunResult r = Quelvar(display, in);
    o.outcome = r.outcome;
    if (!JsonEnd(json, r)) o.json = "(the JSON records could not be written)";
    std::rewind(json_file);
    char block[1 << 16];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, json_file)) > 0;) o.json.append(block, n);
    std::fclose(json_file);
    if (std::FILE* f = std::fopen(log_path.c_str(), "rb")) {
        for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) o.log.append(block, n);
        std::fclose(f);
    }
    o.counts = r.counts;
    o.lines = r.lines;
    return o;
}

// What differs between a search and the reference, in a few lines; empty
// when nothing does.
inline std::string Differences(const Outputs& want, const Outputs& got) {
    std::string out;
    if (got.outcome != want.outcome) out += "the outcome differs\n";
    if (got.lines != want.lines)
        out += "lines: " + std::to_string(got.lines) + ", not " + std::to_string(want.lines) + "\n";
    if (got.counts != want.counts) out += "the counts differ\n";
    if (got.shown != want.shown) out += "the progress shown differs\n";
    for (auto [name, a, b] : {std::tuple{"log", &want.log, &got.log}, std::tuple{"JSON", &want.json, &got.json}}) {
        if (*a == *b) continue;
        std::size_t at = 0;
        while (at < a->size() && at < b->size() && (*a)[at] == (*b)[at]) ++at;
        const std::size_t from = at == 0 || a->rfind('\n', at - 1) == std::string::npos ? 0 : a->rfind('\n', at - 1) + 1;
        out += std::string("the ") + name + " differs at byte " + std::to_string(at) + "\n  line by line: " +
               a->substr(from, 200) + "\n  this way:     " + b->substr(from, 200) + "\n";
    }
    return out;
}

}  // namespace differential
