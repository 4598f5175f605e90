// The progress arithmetic: when the display may change, the percentage, the
// time left and what a stream shows.
#include <gtest/gtest.h>

#include "progress.h"
#include "test_util.h"

namespace {

using testutil::kStart;

TEST(Progress, NoUpdatePointIsPassedBeforeThePercentageCanChange) {
    // Sizes where float rounding of the percentage bites, small and large.
    for (std::uint64_t size : {std::uint64_t{1}, std::uint64_t{99}, std::uint64_t{12345},
                               std::uint64_t{1} << 32, (std::uint64_t{5} << 30) + 3}) {
        Progress p;
        p.size = size;
        for (p.prev_percent = 0; p.prev_percent < 100; ++p.prev_percent) {
            const std::uint64_t at = NextUpdateAt(p, 0);
            // Every position before the point shows at most the percentage shown.
            if (at > 0) {
                EXPECT_LT(PercentDone(at - 1, size), static_cast<float>(p.prev_percent + 1)) << size;
            }
        }
        EXPECT_EQ(NextUpdateAt(p, 0), kNoUpdate) << "at 100, nothing more to show";
    }
    Progress empty;
    empty.size = 0;
    EXPECT_EQ(NextUpdateAt(empty, 0), kNoUpdate);
    Progress stream;  // no size: the clock is read every stretch
    EXPECT_EQ(NextUpdateAt(stream, 1000), 1000 + kClockStride);
}

TEST(Progress, AUtf16ExportIsLookedAtByHalfItsFilePosition) {
    Progress p;
    p.size = 1 << 20;
    const std::uint64_t bytes = NextUpdateAt(p, 0);
    p.utf16 = true;
    EXPECT_LE(NextUpdateAt(p, 0), bytes / 2);
}

TEST(Progress, PercentNeverPassesOneHundredAndEndsThere) {
    EXPECT_EQ(PercentDone(150, 100), 100.0f);  // the file grew while it was read
    // The whole file read gives exactly 100, however large.
    for (std::uint64_t size : {std::uint64_t{3}, (std::uint64_t{5} << 30) + 3, (std::uint64_t{1} << 40) - 1})
        EXPECT_EQ(static_cast<std::int64_t>(PercentDone(size, size)), 100) << size;
    EXPECT_LT(PercentDone(99, 100), 100.0f);
}

TEST(Progress, RemainingTimeNeverBelowZero) {
    EXPECT_EQ(RemainingSeconds(kStart, kStart + 10, 10.0f), 90);
    EXPECT_EQ(RemainingSeconds(kStart, kStart + 10, 100.0f), 0);
    EXPECT_EQ(RemainingSeconds(kStart, kStart - 50, 10.0f), 0);  // a clock set back
}

TEST(Progress, TextsPositionAndTimeLeftAtEachWholePercent) {
    testutil::RecordingDisplay display;
    testutil::FixedClock clock;
    clock.now = kStart + 40;  // the first reading: 40 s after the start
    Progress p;
    StartProgress(p, display, 1000, kStart);
    UpdateProgress(p, display, 5, 7, clock.fn());  // under 1%: nothing, no reading
    UpdateProgress(p, display, 10, 9, clock.fn());
    UpdateProgress(p, display, 15, 12, clock.fn());  // still 1%
    UpdateProgress(p, display, 1000, 700, clock.fn());
    EXPECT_EQ(display.calls, (std::vector<std::string>{
                                 "range 0 100",
                                 "text Processed 9 lines",
                                 // 1% in 40 s: 3960 s to go.
                                 "time Estimated time remaining: 66 min 0 sec",
                                 "pos 1",
                                 "text Processed 700 lines",
                                 // Once shown, shown to the end.
                                 "time Estimated time remaining: 0 min 0 sec",
                                 "pos 100",
                             }));
}

TEST(Progress, AStreamShowsItsLinesWhenTheClockHasMoved) {
    testutil::RecordingDisplay display;
    testutil::FixedClock clock;
    Progress p;
    StartProgress(p, display, std::nullopt, kStart);
    UpdateProgress(p, display, 0, 10, clock.fn());  // the same second as the start
    clock.now += 1;
    UpdateProgress(p, display, 0, 20, clock.fn());
    UpdateProgress(p, display, 0, 30, clock.fn());
    EXPECT_EQ(display.calls, std::vector<std::string>{"text Processed 20 lines"});
}

}  // namespace
