// The hits as a page to look at (--html): one self-contained HTML file, its
// script grouping the hits where they stand. Everything that comes from the
// export or the strings travels in the page as JSON data and is shown as
// text, never as markup; the page loads nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "outcome.h"
#include "search_limits.h"
#include "sink.h"

// A page holds at most this many hits; it says how many more are only in
// the logs.
inline constexpr std::size_t kHtmlHitLimit = 200000;

struct HtmlExport;

// What the parts of one page share when several searches run at once: the
// page shows the first kHtmlHitLimit hits in the order of the exports, so
// each part keeps only as many as the hits of the parts before it leave
// room for, as far as they are known. Each part tells its count every
// `publish_every` hits and at its end.
struct PageBudget {
    std::size_t limit = kHtmlHitLimit;
    std::uint64_t publish_every = 4096;
    std::mutex mutex;
    std::vector<std::uint64_t> hits;       // each part's hits, as last told
    std::vector<HtmlExport*> finished;     // parts whose search is over, else null
    explicit PageBudget(std::size_t parts) : hits(parts, 0), finished(parts, nullptr) {}
};

// One export's part of the page. As a sink it keeps each hit (up to the
// limit) with its highlights; the front end gives its size and budget.
struct HtmlExport final : HitSink {
    std::string name;
    std::optional<std::uint64_t> size;  // of the file, none for a stream
    std::string started;                // when the search ran, as the log says it
    std::string failure;                // why it was not searched at all, when it was not
    bool word = false;                  // strings count as whole words only
    std::size_t limit = kHtmlHitLimit;
    int before = 20;                    // lines of the element kept before each hit, for its view
    int after = 20;                     // and after it
    RunResult result;                   // set once the search is over

    // The groups the hits stand in ([component, table and field, element]
    // as JSON, the first two as labels and values in turn), and each hit as
    // a JSON array.
    std::vector<std::string> groups;
    std::unordered_map<std::string, std::uint32_t> group_of;
    std::string rows;
    std::vector<std::size_t> row_ends;
    std::vector<std::uint32_t> groups_after;  // the groups there are once each row is in
    std::uint64_t omitted = 0;  // hits not kept: hits in all = omitted + row_ends.size()

    // The element's lines around the hits kept, each once, in export order:
    // ",export_line,element_line,text" each (the page's view of a hit finds
    // its window in them and in the rows). near_at[k] is where the lines
    // kept for row k, before it, begin; all before it belong to the rows
    // before k. Where a line or hit is numbered on from the one kept before
    // it but stands in another element, `breaks` says so: (row, export line).
    std::string near_lines;
    std::vector<std::size_t> near_at;
    struct Break {
        std::size_t row;
        std::uint64_t export_line;
    };
    std::vector<Break> breaks;

    PageBudget* budget = nullptr;  // shared with the other parts of the page, when set
    std::size_t index = 0;         // this part's place in it

    // Begin names the export and, when it is searched, when; Finish keeps
    // the result and, with a budget, drops what the page cannot show.
    void Begin(const SearchStart& start) override;
    bool OnHit(const Hit& hit) override;
    void OnNearLine(const NearLine& line) override;
    void Finish(const RunResult& r) override;
    void KeepHit(const Hit& hit);  // a row for the hit, in its group

    // Scratch, kept between hits.
    std::vector<std::string> strings;  // as Begin named them
    std::vector<std::int32_t> marks;
    std::string key;
    std::string line_text;
    std::string needle;
    std::string folded;  // a hit's data upper-cased, where the strings are found
    // What the lines around hits are told apart by: the last line or hit
    // kept, whether the last hit was kept (its lines after it are then),
    // and the first line kept for the coming hit.
    struct Kept {
        bool any = false;
        std::int64_t element_line = 0;
        std::uint64_t element = 0;
    } last_kept;
    bool last_hit_kept = false;
    std::uint64_t last_hit_element = 0;
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t coming_at = kNone;  // where the lines before the coming hit begin in `near_lines`
    std::uint64_t coming_line = 0;  // and the first one's export line and element line
    std::int64_t coming_element_line = 0;
};

// The search of this part is over: with a budget, its count is told and
// what the page cannot show is dropped.
void FinishHits(HtmlExport& page);

// Writes the page for a search of `strings` over these exports, in this
// order, no more than kHtmlHitLimit hits in all, naming the folders given
// that held no export. Returns whether every byte reached the file.
// `limits`, when given, are said on the page as the log's header says them.
bool WriteHtmlReport(std::FILE* out, const std::vector<std::string>& strings, bool word,
                     const std::vector<const HtmlExport*>& exports,
                     const std::vector<std::string>& empty_folders = {}, const Limits* limits = nullptr);

// A text as a JSON string the page shows as it is: valid UTF-8 as it stands,
// each byte that is not as U+FFFD, control characters as their visible
// pictures (U+2400 on), and "<", ">" and "&" escaped so that nothing in the
// data can end the script element that holds it.
void AppendPageString(std::string& out, std::string_view bytes);
