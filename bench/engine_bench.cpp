// Micro-benchmarks of the matcher, stage 1 (marks and the tag index) and the
// walk on in-memory text.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "cpu.h"
#include "export_gen.h"
#include "matcher.h"
#include "reading.h"
#include "search_strings.h"
#include "tag_index.h"

namespace {

// Source-like lines, a few with a marker.
std::vector<std::string> Lines(std::size_t count) {
    std::mt19937 rng(1);
    const char* words[] = {"call", "cust_no", "inv_sum", "if", "endif", "ord_dt", "$status", "=", "(", ")"};
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < count; ++i) {
        std::string line = "   ";
        for (int w = 0; w < 10; ++w) line += std::string(words[rng() % 10]) + " ";
        if (rng() % 200 == 0) line += "calc_discount";
        lines.push_back(line);
    }
    return lines;
}

const char* kTen =
    "CALC_DISCOUNT\r\nINVOICE_TOTAL\r\nCUST_BALANCE\r\nSHIP_DATE\r\nVAT_RATE\r\n"
    "PRICE_LIST\r\nORDER_STATE\r\nCREDIT_LIMIT\r\nSTOCK_LEVEL\r\nPAY_TERMS";

void BM_MatchLine(benchmark::State& state, const char* strings) {
    Matcher matcher;
    LineMatch found;
    BuildMatcher(matcher, BuildSrchStrings(strings));
    std::vector<std::string> lines = Lines(10000);
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (const std::string& l : lines) benchmark::DoNotOptimize(MatchLine(matcher, found, l));
    }
    for (const std::string& l : lines) bytes += l.size();
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
}

void BM_FindAny(benchmark::State& state, const char* strings) {
    Matcher matcher;
    BuildMatcher(matcher, BuildSrchStrings(strings));
    std::string text;
    for (const std::string& l : Lines(20000)) text += l + "\r\n";
    TuneMatcher(matcher, text);
    for (auto _ : state) {
        std::size_t at = 0, hits = 0;
        while ((at = FindAny(matcher, text, at)) != std::string_view::npos) ++hits, ++at;
        benchmark::DoNotOptimize(hits);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(text.size() * state.iterations()));
}

// Half a megabyte of an export of each shape, as a block.
struct ExportBlock {
    std::string text;
    Marks marks;
    TagIndex index;
    explicit ExportBlock(ExportShape shape) {
        text = MakeExport({3, shape, 1 << 20, false}).substr(0, 512 << 10);
        text.resize(text.rfind('\n') + 1);
        text.append(64, ' ');  // the slack a block has after its lines
        SizeMarks(marks, text.size());
    }
    std::size_t end() const { return text.size() - 64; }
};

// Stage 1: the marks and the tag index of a block.
void BM_Stage1(benchmark::State& state, ExportShape shape) {
    ExportBlock b(shape);
    for (auto _ : state) {
        MarkBytes(b.text.data(), 0, b.end(), b.marks, HasAvx2());
        IndexBlock(b.text.data(), 0, b.end(), b.marks, b.index);
        benchmark::DoNotOptimize(b.index.entries.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(b.end() * state.iterations()));
}

// The walk over a block's tag index, the structure alone.
void BM_Walk(benchmark::State& state, ExportShape shape) {
    ExportBlock b(shape);
    MarkBytes(b.text.data(), 0, b.end(), b.marks, HasAvx2());
    IndexBlock(b.text.data(), 0, b.end(), b.marks, b.index);
    for (auto _ : state) {
        Structure s;
        OccurrenceMark occurrence;
        benchmark::DoNotOptimize(WalkLines(s, b.text.data(), b.index.entries.data(), b.end(), occurrence));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(b.end() * state.iterations()));
}

BENCHMARK_CAPTURE(BM_MatchLine, one_string, "CALC_DISCOUNT");
BENCHMARK_CAPTURE(BM_MatchLine, ten_strings, kTen);
BENCHMARK_CAPTURE(BM_FindAny, one_string, "CALC_DISCOUNT");
BENCHMARK_CAPTURE(BM_FindAny, ten_strings, kTen);
BENCHMARK_CAPTURE(BM_Stage1, dense, ExportShape::Dense);
BENCHMARK_CAPTURE(BM_Stage1, real, ExportShape::Real);
BENCHMARK_CAPTURE(BM_Stage1, long, ExportShape::Long);
BENCHMARK_CAPTURE(BM_Walk, dense, ExportShape::Dense);
BENCHMARK_CAPTURE(BM_Walk, real, ExportShape::Real);
BENCHMARK_CAPTURE(BM_Walk, long, ExportShape::Long);

}  // namespace

BENCHMARK_MAIN();
