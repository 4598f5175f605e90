// What both fuzz targets share: an export in memory searched by the engine,
// read in short pieces on one thread or two, and held against the reference
// reading. Any difference, or a run that does not complete, stops the fuzzer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "differential/differential.h"
#include "json_writer.h"

// Each run allocates its blocks afresh: a smaller quarantine for freed
// memory keeps the runs fast and small, and still sees a use after free
// within a run.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

namespace fuzz {

struct QuietDisplay final : Display {
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int pos) override {
        if (pos < 0 || pos > 100) __builtin_trap();
    }
    void SetProgressText(std::string_view) override {}
    void SetTimeLeft(std::string_view) override {}
    void ShowMessageBox(std::string_view, std::string_view) override {}
};

// Searches `exported` and holds the hits, the lines around them, the counts
// and the lines read against the reference's. `step` sets the size of the
// reads (blocks then end anywhere) and, odd, has the export read at offsets
// in small blocks; the JSON writer sees every hit too.
inline void HoldAgainstReference(std::string_view exported, const reference::Search& search, bool one_thread,
                                 std::size_t step) {
    // The export is read from memory; the stream only stands for it.
    static std::FILE* const stands_for_the_export = std::fopen("/dev/null", "rb");
    static std::FILE* const nowhere = std::fopen("/dev/null", "wb");
    if (!stands_for_the_export || !nowhere) return;
    RunInputs in;
    std::string error;
    for (const std::string& limit : search.in) AddLimit(in.limits, limit, true, error);
    in.strings = search.strings;
    in.word = search.word;
    in.lines_before = search.before;
    in.lines_after = search.after;
    in.srchfilename = "export.xml";
    in.export_stream = stands_for_the_export;
    in.export_size = exported.size();
    in.log_stream = nowhere;
    in.single_thread = one_thread;
    differential::RecordingSink recorded;
    recorded.before = search.before;
    recorded.after = search.after;
    JsonWriter json(nowhere);
    json.before = search.before;
    json.after = search.after;
    TeeSink both(&recorded, &json);
    in.sink = &both;
    RunSeams seams;
    seams.clock = [] { return std::time_t{1796633400}; };
    std::size_t offset = 0;
    if (step & 1) {
        // Read at offsets by every thread, in small blocks: most are
        // claimed, those that end in a long line are read in turn.
        seams.read_at = [&](std::FILE*, char* dst, std::size_t n, std::uint64_t at) -> std::int64_t {
            if (at >= exported.size()) return 0;
            const std::size_t take = std::min({n, exported.size() - static_cast<std::size_t>(at), step + at % 7});
            std::memcpy(dst, exported.data() + at, take);
            return static_cast<std::int64_t>(take);
        };
        seams.block_sizes = {16 + step * 3 % 200, 24 + step * 7 % 500, 1 + step % 64};
    } else {
        seams.read_block = [&](std::FILE*, char* dst, std::size_t n) -> std::int64_t {
            const std::size_t take = std::min({n, exported.size() - offset, step + offset % 7});
            if (take) std::memcpy(dst, exported.data() + offset, take);
            offset += take;
            return static_cast<std::int64_t>(take);
        };
    }
    QuietDisplay display;
    const RunResult r = Quelvar(display, in, seams);
    if (r.outcome != RunOutcome::Completed) __builtin_trap();
    const reference::Result want = reference::Read(exported, search);
    if (recorded.records != want.records || r.lines != want.lines) __builtin_trap();
    for (std::size_t i = 0; i < want.counts.size(); ++i)
        if (r.counts.at(i).count != want.counts[i]) __builtin_trap();
}

}  // namespace fuzz
