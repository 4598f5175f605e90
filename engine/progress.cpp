// The progress arithmetic and texts.
#include "progress.h"

void StartProgress(Progress& p, Display& display, std::optional<std::uint64_t> size, std::time_t starttime) {
    p = Progress{};
    p.size = size;
    p.starttime = starttime;
    p.lines_shown_at = starttime;
    if (size) display.SetProgressRange(0, 100);
}

std::uint64_t NextUpdateAt(const Progress& p, std::uint64_t position) {
    if (!p.size) return position + kClockStride;
    const std::uint64_t size = *p.size;
    if (size == 0 || p.prev_percent >= 100) return kNoUpdate;
    double at = static_cast<double>(size) * static_cast<double>(p.prev_percent + 1) / 100.0;
    const double margin = static_cast<double>(size) / (1 << 20) + 64;  // float rounding
    // A UTF-16 file holds at most two bytes per byte read (plus its
    // byte-order mark), so half the file position is reached first.
    if (p.utf16) at = at / 2 - 2;
    return at > margin ? static_cast<std::uint64_t>(at - margin) : 0;
}

float PercentDone(std::uint64_t file_offset, std::uint64_t size) {
    float percent = static_cast<float>(100.0 * (static_cast<double>(file_offset) / static_cast<double>(size)));
    return percent > 100.0f ? 100.0f : percent;
}

std::int64_t RemainingSeconds(std::time_t start, std::time_t now, float percent) {
    auto est_time = static_cast<std::int64_t>(100.0 * std::difftime(now, start) / percent);
    auto remaining = static_cast<std::int64_t>(std::difftime(static_cast<std::time_t>(start + est_time), now));
    return remaining < 0 ? 0 : remaining;
}

void UpdateProgress(Progress& p, Display& display, std::uint64_t file_offset, std::uint64_t lines,
                    const Clock& now) {
    const auto processed = [&] { return "Processed " + std::to_string(lines) + " lines"; };
    if (!p.size) {
        std::time_t t = now();
        if (t == p.lines_shown_at) return;
        p.lines_shown_at = t;
        display.SetProgressText(processed());
        return;
    }
    const float float_percent = PercentDone(file_offset, *p.size);
    if (float_percent - static_cast<float>(p.prev_percent) < 1.0f) return;

    display.SetProgressText(processed());
    const std::int64_t percent = static_cast<std::int64_t>(float_percent);
    const std::int64_t remaining_time = RemainingSeconds(p.starttime, now(), float_percent);
    if (remaining_time >= 30 || p.printed_time) {
        p.printed_time = true;
        display.SetTimeLeft("Estimated time remaining: " + std::to_string(remaining_time / 60) + " min " +
                            std::to_string(remaining_time % 60) + " sec");
    }
    p.prev_percent = percent;
    display.SetProgressPos(static_cast<int>(percent));
}
