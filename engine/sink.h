// Where the scanner reports each matching data line: the log writer is one
// sink, the JSON writer and the page others. The search itself never prints.
// A sink is told when an export's search begins and how it finished, also
// for an export that is never searched.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Limits;
struct RunResult;
struct ScanContext;
struct SearchString;

// What a sink is told before an export's first hit.
struct SearchStart {
    std::string_view export_name;
    const std::vector<std::string>& strings;  // as given
    const Limits* limits = nullptr;           // where hits count, when limited
    bool word = false;                        // strings count as whole words only
    bool searched = true;                     // false: failed or skipped before its search
    std::string_view failure;                 // why it failed before its search
};

// Everything known about one matching data line. Views are valid only during
// the call.
struct Hit {
    const ScanContext& context;   // the fields set, element name included
    std::int64_t element_line;    // the line's number within its element
    std::string_view data;        // upper-cased, as the log shows it
    // The strings the line holds, in the order they were given.
    const std::vector<const SearchString*>& strings;
    std::uint64_t export_line;    // 1-based line number in the export
    std::uint64_t byte_offset;    // where the line starts in the export file
    std::size_t data_at = 0;      // where the data starts in the export's line (bytes), when known
    // Which element the line stands in, when lines around hits are sought:
    // the same for the hits of one element, another for the next one.
    std::uint64_t element = 0;
};

// A data line of an element near a hit of the same element, handed over once:
// after a hit as it comes (`after` lines after it, `before` 0), or just
// before the next hit (`before` lines before it, and `after` as it was handed
// over then, else 0). A sink shows it or not by its own reach (Shows).
struct NearLine {
    std::string_view data;  // upper-cased, as a hit's
    std::uint64_t export_line;
    std::int64_t element_line;
    int before = 0;
    int after = 0;
    std::uint64_t element = 0;  // which element, as Hit::element counts them
};

// Whether a sink that shows `before` lines before a hit and `after` after it
// shows the line now (and has not shown it already).
inline bool Shows(const NearLine& line, int before, int after) {
    const bool shown_after = line.after > 0 && line.after <= after;
    return line.before == 0 ? shown_after : line.before <= before && !shown_after;
}

struct HitSink {
    virtual ~HitSink() = default;
    virtual void Begin(const SearchStart&) {}
    virtual void OnHit(const Hit& hit) = 0;
    virtual void OnNearLine(const NearLine&) {}
    virtual void Finish(const RunResult&) {}
};

// Hands each hit to two sinks in turn (the JSON records and the page).
struct TeeSink final : HitSink {
    HitSink* first;
    HitSink* second;
    TeeSink(HitSink* a, HitSink* b) : first(a), second(b) {}
    void Begin(const SearchStart& start) override {
        first->Begin(start);
        second->Begin(start);
    }
    void OnHit(const Hit& hit) override {
        first->OnHit(hit);
        second->OnHit(hit);
    }
    void OnNearLine(const NearLine& line) override {
        first->OnNearLine(line);
        second->OnNearLine(line);
    }
    void Finish(const RunResult& result) override {
        first->Finish(result);
        second->Finish(result);
    }
};
