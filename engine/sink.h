// Where the search reports each matching data line: the log writer is one
// sink, the JSON writer, the page and the printer others. The search itself
// never prints. The run begins and finishes its sinks; a front end does so
// itself only for an export it never searches.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "outcome.h"

struct Limits;
struct ScanContext;

// What a sink is told before an export's first hit.
struct SearchStart {
    std::string_view export_name;
    const std::vector<std::string>& strings;  // as given
    const Limits* limits = nullptr;           // where hits count, when limited
    bool word = false;                        // strings count as whole words only
    bool searched = true;                     // false: failed or skipped before its search
    std::string_view failure;                 // why it failed before its search
    std::string_view started;                 // when the search began, as the log says it
};

// Everything known about one matching data line. Views are valid only during
// the call.
struct Hit {
    const ScanContext& context;   // the fields set, element name included, as they stand
    std::int64_t element_line;    // the line's number within its element
    std::string_view data;        // as it stands in the export (the log upper-cases it)
    // The strings the line holds, by their places in SearchStart::strings,
    // in that order.
    const std::vector<std::uint32_t>& strings;
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
    std::string_view data;  // as it stands, as a hit's
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

// A sink's calls, in order: Begin once; OnHit for each hit and OnNearLine
// for the lines around hits, in the order of the export; Finish once,
// whatever the outcome.
struct HitSink {
    virtual ~HitSink() = default;
    virtual void Begin(const SearchStart&) {}
    // False asks the run to stop (its reader went away): it ends as an
    // interrupted one, where it would look at an interrupt.
    virtual bool OnHit(const Hit& hit) = 0;
    virtual void OnNearLine(const NearLine&) {}
    virtual void Finish(const RunResult&) {}
};

// Hands each call to two sinks in turn (the JSON records and the page).
struct TeeSink final : HitSink {
    HitSink* first;
    HitSink* second;
    TeeSink(HitSink* a, HitSink* b) : first(a), second(b) {}
    void Begin(const SearchStart& start) override {
        first->Begin(start);
        second->Begin(start);
    }
    bool OnHit(const Hit& hit) override {
        const bool a = first->OnHit(hit);
        return second->OnHit(hit) && a;
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
