// Whole searches of exports of megabytes, where blocks are read ahead on the
// second thread, held against reading line by line: the log, the JSON
// records, the counts and the progress shown are the same on one thread and
// two, and whatever the pace of the thread that reads ahead.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "differential.h"
#include "export_gen.h"
#include "test_util.h"

namespace {

using differential::Mode;
using differential::Outputs;
using differential::Search;

Outputs RunSearch(const testutil::TempDir& dir, const std::string& path, const Search& search, Mode mode,
                  std::uint64_t delay_seed = 0) {
    return differential::RunSearch(path, dir / "search.log", search, mode, delay_seed);
}

void ExpectSame(const Outputs& want, const Outputs& got, const std::string& what) {
    const std::string differences = differential::Differences(want, got);
    EXPECT_TRUE(differences.empty()) << what << ":\n" << differences;
}

// Strings that hit about half the data lines, some, and a few.
const Search kCommon{{"=", "IF", "CALL", "CUST", "_NO", "ACCT", "ITEM", "MESSAGE"}};
const Search kRare{{"ROUTE_CODE", "ZQ_ALPHA", "CALC_DISCOUNT", "ZQ_JULIET"}};
const Search kMedium{{"ACCT_NO", "CALL CUST", "SELECTDB", "ZQ_"}};  // about one line in thirty
const Search kRareWords{{"ROUTE_CODE", "ZQ_BRAVO", "PAY_TERMS"}, true};
// Within limits, with the lines around each hit: these take the lines after
// a hit in full and rebuild the lines before it.
const Search kAround{{"ACCT_NO", "CALL CUST", "ZQ_"}, false, 3, 2, {}, {"element=UDESCR,UCOMMENT"}};
const Search kAroundWithin{{"IF", "ITEM"}, false, 1, 4, {"table=*", "element=U*"}, {"form=*X*"}};

// How many of the exports below a run takes: all of them unless the
// environment asks for fewer (the slow sanitizer builds).
std::size_t ExportsToTake(std::size_t all) {
    if (const char* n = std::getenv("REPOSEARCH_DIFFERENTIAL_EXPORTS")) return std::min<std::size_t>(all, std::strtoul(n, nullptr, 10));
    return all;
}

// Exports of 1 to 30 MB in every shape, most of them with the awkward cases,
// each searched for common and for rare strings on one thread and on two.
TEST(Differential, ExportsOfMegabytesReadAsLineByLine) {
    struct Case {
        ExportShape shape;
        std::uint64_t megabytes;
        bool awkward;
        std::uint64_t seed;
    };
    // The first six cover every shape, tidy and awkward, for the slow builds
    // that take only those. The 30 MB one once showed a line counted twice
    // in an element that never ends.
    const std::vector<Case> cases = {
        {ExportShape::Real, 5, true, 1006},   {ExportShape::Dense, 3, true, 1001},   {ExportShape::Long, 2, true, 1002},
        {ExportShape::Real, 1, false, 1003},  {ExportShape::Dense, 2, false, 1013},  {ExportShape::Long, 1, false, 1008},
        {ExportShape::Real, 30, true, 1000},  {ExportShape::Dense, 12, false, 1004}, {ExportShape::Long, 8, true, 1005},
        {ExportShape::Real, 2, false, 1009},  {ExportShape::Dense, 6, true, 1010},   {ExportShape::Long, 4, true, 1011},
        {ExportShape::Real, 10, true, 1012},  {ExportShape::Dense, 1, true, 1007},   {ExportShape::Long, 3, true, 1014},
        {ExportShape::Real, 3, true, 1015},   {ExportShape::Dense, 4, true, 1016},   {ExportShape::Long, 12, false, 1017},
        {ExportShape::Real, 7, false, 1018},  {ExportShape::Dense, 8, true, 1019},   {ExportShape::Long, 5, true, 1020},
        {ExportShape::Real, 4, true, 1021},   {ExportShape::Dense, 5, false, 1022},  {ExportShape::Long, 6, true, 1023},
    };
    testutil::TempDir dir;
    const std::string path = dir / "export.xml";
    for (std::size_t k = 0; k < ExportsToTake(cases.size()); ++k) {
        const Case& c = cases[k];
        const ExportRecipe recipe{c.seed, c.shape, c.megabytes << 20, c.awkward};
        testutil::WriteFile(path, MakeExport(recipe));
        const std::string name = std::string(ShapeName(c.shape)) + (c.awkward ? " awkward" : "") + " export of " +
                                 std::to_string(c.megabytes) + " MB, seed " + std::to_string(recipe.seed);
        for (const Search* search : {&kRare, &kMedium, &kCommon, &kRareWords, &kAround, &kAroundWithin}) {
            if (search == &kRareWords && k % 3) continue;
            if ((search == &kAround && k % 2) || (search == &kAroundWithin && k % 2 == 0)) continue;
            const std::string what = name + ", " + search->strings[0] + "...";
            const Outputs want = RunSearch(dir, path, *search, Mode::LineByLine);
            ASSERT_EQ(want.outcome, RunOutcome::Completed) << what;
            ExpectSame(want, RunSearch(dir, path, *search, Mode::OneThread), what + ", one thread");
            ExpectSame(want, RunSearch(dir, path, *search, Mode::TwoThreads), what + ", two threads");
            ExpectSame(want, RunSearch(dir, path, *search, Mode::TwoThreads, k + 1), what + ", two threads, delayed");
        }
    }
}

// The export that showed hits missed where a block read ahead began with an
// occurrence opened on the same line as an element that holds a string.
TEST(Differential, HitsOnTheLineThatOpensTheFirstOccurrenceOfABlock) {
    testutil::TempDir dir;
    const std::string path = std::string(TEST_DATA_DIR) + "/missed-line.xml";
    const Search search{{"FOO_INIT"}};
    const Outputs want = RunSearch(dir, path, search, Mode::LineByLine);
    ASSERT_EQ(want.counts.size(), 1u);
    EXPECT_EQ(want.counts[0].count, 2611);
    ExpectSame(want, RunSearch(dir, path, search, Mode::OneThread), "one thread");
    ExpectSame(want, RunSearch(dir, path, search, Mode::TwoThreads), "two threads");
    for (std::uint64_t seed = 1; seed <= 4; ++seed)
        ExpectSame(want, RunSearch(dir, path, search, Mode::TwoThreads, seed), "delay seed " + std::to_string(seed));
}

// However far the reading thread gets ahead of the lines or falls behind
// them, the run writes the same.
TEST(Differential, TheReadingThreadsPaceChangesNothing) {
    testutil::TempDir dir;
    const std::string path = dir / "export.xml";
    const std::vector<ExportRecipe> recipes = {{7, ExportShape::Real, 3 << 20, true},
                                               {8, ExportShape::Dense, 2 << 20, false},
                                               {9, ExportShape::Long, 2 << 20, true}};
    for (const ExportRecipe& recipe : recipes) {
        testutil::WriteFile(path, MakeExport(recipe));
        for (const Search* search : {&kRare, &kMedium, &kCommon}) {
            const Outputs want = RunSearch(dir, path, *search, Mode::LineByLine);
            for (std::uint64_t seed = 1; seed <= 12; ++seed)
                ExpectSame(want, RunSearch(dir, path, *search, Mode::TwoThreads, seed * 7919),
                           std::string(ShapeName(recipe.shape)) + " export, " + search->strings[0] + "..., delay seed " +
                               std::to_string(seed * 7919));
        }
    }
}

}  // namespace
