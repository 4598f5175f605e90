// Hits for other tools: JSON Lines, one record a line. "begin" names the
// export and the strings, "match" stands for one matching data line, "end"
// gives the outcome and the counts.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "search_limits.h"
#include "sink.h"

struct JsonWriter final : HitSink {
    explicit JsonWriter(std::FILE* to) : out(to) {}
    std::FILE* out;
    std::string buffer;   // records not yet written
    bool failed = false;  // some write did not go through
    bool closed = false;  // the stream's reader went away (a pipe)
    void (*on_closed)() = nullptr;  // called once when it does
    // When set, writes the records in place of fwrite: true when all went,
    // else false with errno set (ECANCELED: the run was stopped, and the
    // records are given up).
    std::function<bool(std::string_view)> write;
    int before = 0;       // lines of the element written before each match ("context" records)
    int after = 0;        // and after it
    std::vector<std::string> strings;  // as Begin named them, for the match records
    void Begin(const SearchStart& start) override;  // the "begin" record
    bool OnHit(const Hit& hit) override;
    void OnNearLine(const NearLine& line) override;  // a "context" record
    void Finish(const RunResult& result) override;  // the "end" record, flushed
};

// The "begin" record; it lists the limits, when there are any.
void JsonBegin(JsonWriter& json, std::string_view export_name, const std::vector<std::string>& strings,
               const Limits* limits = nullptr);

// Writes the "end" record and flushes. Returns whether every record reached
// the stream.
bool JsonEnd(JsonWriter& json, const RunResult& result);

// Writes the "summary" record that ends a run over several exports: how many
// searches completed and failed, and each string's count over all of them.
// Returns whether every record reached the stream.
bool JsonSummary(JsonWriter& json, std::size_t completed, std::size_t failed, const std::vector<StringCount>& totals);

// The name the "end" record gives an outcome.
std::string_view OutcomeName(const RunResult& result);

// The length of the well-formed UTF-8 character at text[at] (no stray
// continuation bytes, overlong forms, surrogates or code points beyond
// U+10FFFF), or 0 when none starts there.
std::size_t Utf8CharLength(std::string_view text, std::size_t at);

// A text as JSON: {"text": "..."} when it is valid UTF-8, else
// {"bytes": "BASE64"}.
void AppendJsonText(std::string& out, std::string_view text);
