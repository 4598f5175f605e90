// The progress display of a run: when it may change, the percentage done,
// the line count and the time left.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

#include "display.h"

using Clock = std::function<std::time_t()>;

struct Progress {
    std::optional<std::uint64_t> size;  // of the export file; none for a stream
    std::time_t starttime = 0;
    std::int64_t prev_percent = 0;   // the percentage shown last
    bool printed_time = false;       // the time left has been shown
    std::time_t lines_shown_at = 0;  // a stream's line count was shown then
    bool utf16 = false;              // positions count converted bytes
};

// A stream's line count is shown about once a second: the clock is read after
// each stretch of this many bytes.
inline constexpr std::uint64_t kClockStride = std::uint64_t{4} << 20;

// No later update: the percentage has reached 100, or the export is empty.
inline constexpr std::uint64_t kNoUpdate = ~std::uint64_t{0};

// Starts the display: a range of 0 to 100 when the size is known.
void StartProgress(Progress& p, Display& display, std::optional<std::uint64_t> size, std::time_t starttime);

// The first position read (the export's bytes read, converted ones for
// UTF-16) from which the display may change: nothing before it can move the
// percentage past the one shown last.
std::uint64_t NextUpdateAt(const Progress& p, std::uint64_t position);

// Shows how far the run is once `file_offset` bytes of the export file are
// read in `lines` lines; the clock is read only when something may be shown.
void UpdateProgress(Progress& p, Display& display, std::uint64_t file_offset, std::uint64_t lines,
                    const Clock& now);

// The percentage of the file read, never above 100 (the file grew while it
// was read).
float PercentDone(std::uint64_t file_offset, std::uint64_t size);

// Seconds left at `percent` done, going on as fast as from `start` to `now`;
// never below 0 (a clock set back).
std::int64_t RemainingSeconds(std::time_t start, std::time_t now, float percent);
