// The page of hits: the sink that keeps them, and the page around them.
#include "html_writer.h"

#include <algorithm>

#include "bytes.h"
#include "json_writer.h"
#include "matcher.h"
#include "search_limits.h"
#include "text.h"
#include "report_page.h"  // the page's script and style, made by the build

namespace {

// Export text as the log shows it: carriage returns dropped.
std::string WithoutCr(std::string_view text) {
    std::string out;
    AppendWithoutCr(out, text);
    return out;
}

// The fields that are set, as a JSON array of labels and values in turn:
// the page puts each value apart from the text around it.
void AppendLabelled(std::string& out, const ScanContext& c, PageGroup group) {
    out.push_back('[');
    bool first = true;
    for (const ContextField& l : kContextFields) {
        if (l.group != group) continue;
        const std::string& value = c.*l.value;
        if (value.empty()) continue;
        if (!first) out.push_back(',');
        first = false;
        AppendPageString(out, l.label);
        out.push_back(',');
        AppendPageString(out, WithoutCr(value));
    }
    out.push_back(']');
}

const char* kHex = "0123456789abcdef";

// A digest given in hexadecimal, in base64 as the policy takes it.
std::string Base64OfHex(std::string_view hex) {
    std::string bytes;
    auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
    std::string out;
    AppendBase64(out, bytes);
    return out;
}

void AppendUnicodeEscape(std::string& out, unsigned code) {
    out.append("\\u");
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(code >> shift) & 15]);
}

}  // namespace

void AppendPageString(std::string& out, std::string_view bytes) {
    out.push_back('"');
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const std::size_t n = Utf8CharLength(bytes, i);
        if (n == 0) {
            AppendUnicodeEscape(out, 0xFFFD);  // a byte that is no UTF-8
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(bytes.substr(i, n));
            i += n;
            continue;
        }
        ++i;
        if (c < 0x20 && c != '\t') {
            AppendUnicodeEscape(out, 0x2400 + c);  // its picture: a zero byte shows as U+2400
        } else if (c == 0x7F) {
            AppendUnicodeEscape(out, 0x2421);
        } else if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c == '\t') {
            out.append("\\t");
        } else if (c == '<' || c == '>' || c == '&') {
            AppendUnicodeEscape(out, c);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    out.push_back('"');
}

namespace {

// Keeps the first n rows of a part and the groups they stand in; the memory
// of what is dropped goes back when it is much.
void KeepRows(HtmlExport& x, std::size_t n) {
    if (x.row_ends.size() <= n) return;
    x.omitted += x.row_ends.size() - n;
    x.rows.resize(n ? x.row_ends[n - 1] : 0);
    x.row_ends.resize(n);
    const std::size_t groups = n ? x.groups_after[n - 1] : 0;
    for (std::size_t g = groups; g < x.groups.size(); ++g) x.group_of.erase(x.groups[g]);
    x.groups.resize(groups);
    x.groups_after.resize(n);
    // The lines around the rows dropped go with them: those before each
    // one, and after the last of them. The lines after the row kept last
    // stay; no line after it is kept from now on.
    x.near_lines.resize(x.near_at[n]);
    x.near_at.resize(n);
    while (!x.breaks.empty() && x.breaks.back().row >= n) x.breaks.pop_back();
    x.last_hit_kept = false;
    x.coming_at = HtmlExport::kNone;
    if (x.rows.capacity() > 2 * x.rows.size() + (std::size_t{1} << 20)) {
        x.rows.shrink_to_fit();
        x.row_ends.shrink_to_fit();
        x.groups_after.shrink_to_fit();
        x.near_lines.shrink_to_fit();
        x.near_at.shrink_to_fit();
    }
}

// The room for hits before part k: the limit less the hits of the parts
// before it, as last told. It only shrinks as they tell more.
std::size_t RoomLocked(const PageBudget& b, std::size_t k) {
    std::uint64_t before = 0;
    for (std::size_t j = 0; j < k && before < b.limit; ++j) before += b.hits[j];
    return before < b.limit ? static_cast<std::size_t>(b.limit - before) : 0;
}

// Tells the budget a part's count, and drops what the page can no longer
// show: from this part, and from the parts after it whose search is over
// (which no thread writes to any more).
void Publish(HtmlExport& x, bool finished) {
    PageBudget& b = *x.budget;
    std::lock_guard<std::mutex> lock(b.mutex);
    b.hits[x.index] = x.omitted + x.row_ends.size();
    if (finished) b.finished[x.index] = &x;
    x.limit = std::min(x.limit, RoomLocked(b, x.index));
    KeepRows(x, x.limit);
    for (std::size_t m = x.index + 1; m < b.finished.size(); ++m) {
        if (HtmlExport* later = b.finished[m]) {
            later->limit = std::min(later->limit, RoomLocked(b, m));
            KeepRows(*later, later->limit);
        }
    }
}

}  // namespace

void FinishHits(HtmlExport& page) {
    if (page.budget) Publish(page, true);
}

void HtmlExport::Begin(const SearchStart& start) {
    name = std::string(start.export_name);
    word = start.word;
    failure = std::string(start.failure);
    strings = start.strings;
    started = start.started;
    if (!started.empty() && started.back() == '\n') started.pop_back();
}

void HtmlExport::Finish(const RunResult& r) {
    FinishHits(*this);
    result = r;
}

// A line near a hit comes after the hit it follows, or just before the hit
// it precedes (sink.h): it is kept only for a hit the page keeps.
void HtmlExport::OnNearLine(const NearLine& line) {
    if (!Shows(line, before, after)) return;
    if (line.before == 0) {
        // After the last hit, in its element, numbered on from what was
        // kept last (that hit or the line before this one).
        if (!last_hit_kept) return;
        last_kept = {true, line.element_line, last_hit_element};
    } else {
        // Before the coming hit, which is kept exactly when a row is free
        // now (OnHit): its element is known once it comes.
        if (row_ends.size() >= limit) return;
        if (coming_at == kNone) {
            coming_at = near_lines.size();
            coming_line = line.export_line;
            coming_element_line = line.element_line;
        }
    }
    near_lines.push_back(',');
    AppendNumber(near_lines, line.export_line);
    near_lines.push_back(',');
    AppendNumber(near_lines, static_cast<std::uint64_t>(line.element_line));
    near_lines.push_back(',');
    line_text.clear();  // its room kept from line to line
    AppendWithoutCr(line_text, line.data);
    AppendPageString(near_lines, line_text);
}

bool HtmlExport::OnHit(const Hit& hit) {
    if (row_ends.size() < limit) {
        // The first line kept for this hit (or the hit itself) and what was
        // kept before it: numbered on, yet in another element, is a break
        // the page cannot see by the numbers alone.
        const bool lines_before = coming_at != kNone;
        const std::int64_t first_line = lines_before ? coming_element_line : hit.element_line;
        if (last_kept.any && first_line == last_kept.element_line + 1 && last_kept.element != hit.element)
            breaks.push_back({row_ends.size(), lines_before ? coming_line : hit.export_line});
        near_at.push_back(lines_before ? coming_at : near_lines.size());
        KeepHit(hit);
        last_kept = {true, hit.element_line, hit.element};
        last_hit_kept = true;
        last_hit_element = hit.element;
    } else {
        ++omitted;
        last_hit_kept = false;
    }
    coming_at = kNone;
    if (budget && (omitted + row_ends.size()) % budget->publish_every == 0) Publish(*this, false);
    return true;
}

void HtmlExport::KeepHit(const Hit& hit) {
    // The group: component, table and field, element.
    key.clear();
    key.push_back('[');
    AppendLabelled(key, hit.context, PageGroup::Component);
    key.push_back(',');
    AppendLabelled(key, hit.context, PageGroup::TableAndField);
    key.push_back(',');
    AppendPageString(key, WithoutCr(hit.context.current_trigger));
    key.push_back(']');
    auto [it, added] = group_of.try_emplace(key, static_cast<std::uint32_t>(groups.size()));
    if (added) groups.push_back(key);

    // Where each string the line holds stands in it, as the search found
    // it: letters a to z compared as upper case, whole words only with -w.
    // Where strings overlap, the one given first is shown.
    const std::string_view data = hit.data;
    folded.resize(data.size());
    FoldInto(folded.data(), data);
    marks.assign(data.size(), -1);
    std::string& out = rows;
    out.push_back('[');
    AppendNumber(out, it->second);
    out.push_back(',');
    AppendNumber(out, static_cast<std::uint64_t>(hit.element_line));
    out.push_back(',');
    AppendNumber(out, hit.export_line);
    out.append(",[");
    for (std::size_t k = 0; k < hit.strings.size(); ++k) {
        const std::uint32_t given = hit.strings[k];
        const std::int32_t index = static_cast<std::int32_t>(given);
        if (k) out.push_back(',');
        AppendNumber(out, given);
        needle = strings[given];
        for (char& ch : needle) ch = static_cast<char>(Fold(ch));
        if (needle.empty()) continue;
        for (std::size_t at = folded.find(needle); at != std::string::npos; at = folded.find(needle, at + 1)) {
            if (word && !WholeWord(folded, at, needle.size())) continue;
            for (std::size_t b = at; b < at + needle.size(); ++b)
                if (marks[b] < 0) marks[b] = index;
        }
    }
    out.push_back(']');
    // The data in runs: plain text as a string, a string's place as
    // [index, text]; carriage returns dropped as the log drops them.
    for (std::size_t start = 0; start < data.size();) {
        std::size_t end = start + 1;
        while (end < data.size() && marks[end] == marks[start]) ++end;
        const std::string text = WithoutCr(data.substr(start, end - start));
        if (!text.empty()) {
            out.push_back(',');
            if (marks[start] >= 0) {
                out.push_back('[');
                AppendNumber(out, static_cast<std::uint64_t>(marks[start]));
                out.push_back(',');
                AppendPageString(out, text);
                out.push_back(']');
            } else {
                AppendPageString(out, text);
            }
        }
        start = end;
    }
    out.push_back(']');
    row_ends.push_back(out.size());
    groups_after.push_back(static_cast<std::uint32_t>(groups.size()));
}

bool WriteHtmlReport(std::FILE* file, const std::vector<std::string>& strings, bool word,
                     const std::vector<const HtmlExport*>& exports, const std::vector<std::string>& empty_folders,
                     const Limits* limits) {
    std::string out;
    bool ok = true;
    auto flush = [&](bool last) {
        if (out.size() < (std::size_t{1} << 20) && !last) return;
        if (!out.empty() && std::fwrite(out.data(), 1, out.size(), file) != out.size()) ok = false;
        out.clear();
    };
    out.append("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
               "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; script-src 'sha256-");
    out.append(Base64OfHex(kReportScriptSha256Hex));
    out.append("'; style-src 'sha256-");
    out.append(Base64OfHex(kReportStyleSha256Hex));
    out.append("'\">\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
               "<title>reposearch report</title>\n<style>");
    out.append(kReportStyle);
    out.append("</style>\n</head>\n<body>\n<noscript>This report shows its hits with a script; the log holds them "
               "too.</noscript>\n<script type=\"application/json\" id=\"report-data\">{\"strings\":[");
    for (std::size_t i = 0; i < strings.size(); ++i) {
        if (i) out.push_back(',');
        AppendPageString(out, strings[i]);
    }
    out.append("],\"word\":");
    out.append(word ? "true" : "false");
    if (limits && !limits->Empty()) {  // as the log's header says them, a line each
        out.append(",\"limits\":[");
        const std::string lines = DescribeLimits(*limits);
        for (std::size_t at = 0, n = 0; at < lines.size(); ++n) {
            const std::size_t end = lines.find('\n', at);
            if (n) out.push_back(',');
            AppendPageString(out, std::string_view(lines).substr(at, end - at));
            at = end + 1;
        }
        out.push_back(']');
    }
    out.append(",\"limit\":");
    AppendNumber(out, kHtmlHitLimit);
    if (!empty_folders.empty()) {
        out.append(",\"empty_folders\":[");
        for (std::size_t i = 0; i < empty_folders.size(); ++i) {
            if (i) out.push_back(',');
            AppendPageString(out, empty_folders[i]);
        }
        out.push_back(']');
    }
    out.append(",\"exports\":[");
    std::size_t room = kHtmlHitLimit;  // hits the page may still take
    std::vector<std::size_t> shown_of(exports.size());
    for (std::size_t e = 0; e < exports.size(); ++e) {
        const HtmlExport& x = *exports[e];
        const RunResult& r = x.result;
        if (e) out.push_back(',');
        out.append("{\"name\":");
        AppendPageString(out, x.name);
        out.append(",\"size\":");
        if (x.size)
            AppendNumber(out, *x.size);
        else
            out.append("null");
        out.append(",\"lines\":");
        AppendNumber(out, r.lines);
        out.append(",\"started\":");
        AppendPageString(out, x.started);
        out.append(",\"outcome\":\"");
        out.append(OutcomeName(r));
        out.push_back('"');
        if (!x.failure.empty()) {
            out.append(",\"failure\":");
            AppendPageString(out, x.failure);
        }
        out.append(",\"reach\":[");  // of each hit's view: lines before and after it
        AppendNumber(out, static_cast<std::uint64_t>(std::max(x.before, 0)));
        out.push_back(',');
        AppendNumber(out, static_cast<std::uint64_t>(std::max(x.after, 0)));
        out.push_back(']');
        out.append(",\"counts\":[");
        for (std::size_t i = 0; i < r.counts.size(); ++i) {
            if (i) out.push_back(',');
            AppendNumber(out, static_cast<std::uint64_t>(r.counts[i].count));
        }
        // The hits the page has room for, and the groups they stand in.
        const std::size_t shown = std::min(room, x.row_ends.size());
        room -= shown;
        shown_of[e] = shown;
        out.append("],\"groups\":[");
        for (std::size_t g = 0, groups = shown ? x.groups_after[shown - 1] : 0; g < groups; ++g) {
            if (g) out.push_back(',');
            out.append(x.groups[g]);
        }
        out.append("],\"hits\":[");
        for (std::size_t h = 0, begin = 0; h < shown; begin = x.row_ends[h++]) {
            if (h) out.push_back(',');
            out.append(x.rows, begin, x.row_ends[h] - begin);
            flush(false);
        }
        out.append("],\"omitted\":");
        AppendNumber(out, x.omitted + (x.row_ends.size() - shown));
        out.push_back('}');
    }
    // The lines around the hits shown, in a block of their own: the page
    // reads it only when a hit's view is first opened.
    out.append("]}</script>\n<script type=\"application/json\" id=\"report-lines\">[");
    for (std::size_t e = 0; e < exports.size(); ++e) {
        const HtmlExport& x = *exports[e];
        const std::size_t shown = shown_of[e];
        if (e) out.push_back(',');
        out.append("{\"breaks\":[");
        bool first = true;
        for (const HtmlExport::Break& b : x.breaks) {
            if (b.row >= shown) break;
            if (!first) out.push_back(',');
            first = false;
            AppendNumber(out, b.export_line);
        }
        // Lines up to those kept for the first row not shown.
        const std::size_t end = shown < x.near_at.size() ? x.near_at[shown] : x.near_lines.size();
        out.append("],\"near\":[");
        if (end > 1) {  // past the comma before the first line, written as it is kept
            flush(true);
            if (std::fwrite(x.near_lines.data() + 1, 1, end - 1, file) != end - 1) ok = false;
        }
        out.append("]}");
    }
    out.append("]</script>\n<script>");
    out.append(kReportScript);
    out.append("</script>\n</body>\n</html>\n");
    flush(true);
    return ok && std::fflush(file) == 0 && !std::ferror(file);
}
