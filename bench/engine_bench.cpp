// Micro-benchmarks of the matcher and the scanner on in-memory text.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "match_log.h"
#include "matcher.h"
#include "scanner.h"

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
    RunState run;
    BuildSrchStrings(run, strings);
    std::vector<std::string> lines = Lines(10000);
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (const std::string& l : lines) benchmark::DoNotOptimize(MatchLine(run.matcher, run.found, l));
    }
    for (const std::string& l : lines) bytes += l.size();
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
    DeAllocateEverything(run);
}

void BM_FindAny(benchmark::State& state, const char* strings) {
    RunState run;
    BuildSrchStrings(run, strings);
    std::string text;
    for (const std::string& l : Lines(20000)) text += l + "\r\n";
    TuneMatcher(run.matcher, text);
    for (auto _ : state) {
        std::size_t at = 0, hits = 0;
        while ((at = FindAny(run.matcher, text, at)) != std::string_view::npos) ++hits, ++at;
        benchmark::DoNotOptimize(hits);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(text.size() * state.iterations()));
    DeAllocateEverything(run);
}

// The scanner over one element's data lines, no string matching.
void BM_ProcessStream(benchmark::State& state) {
    std::vector<std::string> lines = Lines(10000);
    std::size_t bytes = 0;
    for (const std::string& l : lines) bytes += l.size();
    for (auto _ : state) {
        RunState run;
        BuildSrchStrings(run, "ZZZZ_NEVER");
        ProcessStream(run, "<TABLE XMLNS:USOURCE><OCC><USOURCE:USOURCE>");
        for (const std::string& l : lines) ProcessStream(run, l);
        DeAllocateEverything(run);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
}

BENCHMARK_CAPTURE(BM_MatchLine, one_string, "CALC_DISCOUNT");
BENCHMARK_CAPTURE(BM_MatchLine, ten_strings, kTen);
BENCHMARK_CAPTURE(BM_FindAny, one_string, "CALC_DISCOUNT");
BENCHMARK_CAPTURE(BM_FindAny, ten_strings, kTen);
BENCHMARK(BM_ProcessStream);

}  // namespace

BENCHMARK_MAIN();
