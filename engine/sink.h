// Where the scanner reports each matching data line: the log writer is one
// sink, the JSON writer another. The search itself never prints.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

struct ScanContext;
struct SearchString;

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
};

struct HitSink {
    virtual ~HitSink() = default;
    virtual void OnHit(const Hit& hit) = 0;
};

// Hands each hit to two sinks in turn (the JSON records and the page).
struct TeeSink final : HitSink {
    HitSink* first;
    HitSink* second;
    TeeSink(HitSink* a, HitSink* b) : first(a), second(b) {}
    void OnHit(const Hit& hit) override {
        first->OnHit(hit);
        second->OnHit(hit);
    }
};
