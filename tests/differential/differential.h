// Whole searches held against the reference reading: the hits, the lines
// around them, the counts and the lines read; and the engine's ways of
// reading (one thread, two, the reading threads paused at random, reads of
// any size) against each other, its log and progress included. Shared by
// the differential tests, the soak and the search fuzzer.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "../reference/reference.h"
#include "context.h"
#include "search_run.h"

namespace differential {

using Search = reference::Search;

// What a search leaves behind.
struct Outputs {
    RunOutcome outcome = RunOutcome::Completed;
    std::vector<std::string> records;  // as the reference writes them
    std::vector<std::int64_t> counts;
    std::uint64_t lines = 0;
    std::string log;                   // the engine's alone
    std::vector<std::string> shown;    // the display calls, in order (the engine's alone)
};

enum class Mode { OneThread, TwoThreads, Paused };

// Each hit and each line shown near one, as the reference writes them.
struct RecordingSink final : HitSink {
    int before = 0, after = 0;
    std::vector<std::string> records;
    bool OnHit(const Hit& hit) override {
        std::array<std::string, 11> fields;
        for (std::size_t i = 0; i < fields.size(); ++i) fields[i] = hit.context.*kContextFields[i].value;
        records.push_back(reference::Record(fields, hit.element_line, hit.data, hit.export_line, hit.byte_offset,
                                            hit.data_at, hit.strings));
        return true;
    }
    void OnNearLine(const NearLine& line) override {
        if (Shows(line, before, after))
            records.push_back(reference::NearRecord(line.export_line, line.element_line, line.data));
    }
};

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

// Pauses the reading threads at about one call in four: a yield, or a wait
// of up to half a millisecond.
inline Stage1Pause PauseAtRandom(std::uint64_t seed) {
    return [seed] {
        thread_local std::mt19937_64 rng(seed ^ std::hash<std::thread::id>()(std::this_thread::get_id()));
        const std::uint64_t r = rng();
        if (r % 4) return;
        if (r >> 63)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(r >> 20 & 511));
    };
}

#ifndef _WIN32
// Reads the file at offsets as the command line does, from any thread, in
// reads cut short at random now and then.
inline ReadAt ReadAtRandom(std::uint64_t seed) {
    return [seed](std::FILE* f, char* dst, std::size_t n, std::uint64_t offset) -> std::int64_t {
        thread_local std::mt19937_64 rng(seed ^ std::hash<std::thread::id>()(std::this_thread::get_id()));
        if (const std::uint64_t r = rng(); r % 8 == 0) n = std::min<std::size_t>(n, 1 + (r >> 8) % 5000);
        for (;;) {
            const ssize_t got = pread(fileno(f), dst, n, static_cast<off_t>(offset));
            if (got >= 0 || errno != EINTR) return got;
        }
    };
}
#endif

// Searches the export at `path` with the engine, the log going to
// `log_path`; `read_size`, when not 0, has it read in turn in reads of at
// most that many bytes, else at offsets by every reading thread (in blocks
// of sizes drawn from the seed when paused). The clock moves a second at every reading, so the time left is
// shown too and every reading of it counts.
inline Outputs RunEngine(const std::string& path, const std::string& log_path, const Search& search, Mode mode,
                         std::uint64_t seed = 1, std::size_t read_size = 0) {
    Outputs o;
    ShownDisplay display(o.shown);
    std::time_t clock = 1796633400;
    RunInputs in;
    std::string error;
    for (const std::string& limit : search.in) AddLimit(in.limits, limit, true, error);
    for (const std::string& limit : search.not_in) AddLimit(in.limits, limit, false, error);
    RecordingSink sink;
    sink.before = in.lines_before = search.before;
    sink.after = in.lines_after = search.after;
    in.strings = search.strings;
    in.word = search.word;
    in.srchfilename = path;
    in.logfilename = log_path;
    in.sink = &sink;
    in.single_thread = mode == Mode::OneThread;
    RunSeams seams;
    seams.clock = [&clock] { return clock++; };
    if (mode == Mode::Paused) seams.pause = PauseAtRandom(seed);
    std::mt19937_64 sizes(seed);
#ifndef _WIN32
    if (!read_size) seams.read_at = ReadAtRandom(seed);
#endif
    if (!read_size && mode == Mode::Paused)
        seams.block_sizes = {64 + sizes() % 4096, 512 + sizes() % 65536, 1 + sizes() % 600};
    if (read_size)
        seams.read_block = [&sizes, read_size](std::FILE* f, char* dst, std::size_t n) -> std::int64_t {
            const std::size_t got = std::fread(dst, 1, std::min<std::size_t>(n, 1 + sizes() % read_size), f);
            return got == 0 && std::ferror(f) ? -1 : static_cast<std::int64_t>(got);
        };
    const RunResult r = Quelvar(display, in, seams);
    o.outcome = r.outcome;
    o.records = std::move(sink.records);
    for (const StringCount& c : r.counts) o.counts.push_back(c.count);
    o.lines = r.lines;
    if (std::FILE* f = std::fopen(log_path.c_str(), "rb")) {
        char block[1 << 16];
        for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) o.log.append(block, n);
        std::fclose(f);
    }
    return o;
}

inline Outputs FromReference(const reference::Result& r) {
    Outputs o;
    o.records = r.records;
    o.counts = r.counts;
    o.lines = r.lines;
    return o;
}

// The reference's reading of the export at `path`.
inline Outputs RunReference(const std::string& path, const Search& search) {
    std::string bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char block[1 << 16];
        for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) bytes.append(block, n);
        std::fclose(f);
    }
    return FromReference(reference::Read(bytes, search));
}

// What differs between two searches, in a few lines; empty when nothing
// does. The log and the progress are compared where both have them.
inline std::string Differences(const Outputs& want, const Outputs& got) {
    std::string out;
    if (got.outcome != want.outcome) out += "the outcome differs\n";
    if (got.lines != want.lines)
        out += "lines: " + std::to_string(got.lines) + ", not " + std::to_string(want.lines) + "\n";
    if (got.counts != want.counts) out += "the counts differ\n";
    if (!want.shown.empty() && got.shown != want.shown) out += "the progress shown differs\n";
    if (!want.log.empty() && got.log != want.log) out += "the log differs\n";
    if (got.records != want.records) {
        std::size_t k = 0;
        while (k < want.records.size() && k < got.records.size() && want.records[k] == got.records[k]) ++k;
        auto at = [&](const std::vector<std::string>& v) { return k < v.size() ? v[k].substr(0, 300) : "(none)"; };
        out += "record " + std::to_string(k) + " of " + std::to_string(want.records.size()) + " differs (" +
               std::to_string(got.records.size()) + " here)\n  want: " + at(want.records) + "\n  got:  " +
               at(got.records) + "\n";
    }
    return out;
}

}  // namespace differential
