// Hits and the lines around them as lines of text, for terminals and editors.
#include "print_sink.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "../engine/bytes.h"
#include "../engine/context.h"
#include "../engine/matcher.h"
#include "../engine/text.h"
#include "output.h"
#include "terminal.h"

namespace {

constexpr const char* kDim = "\x1b[2m";
constexpr const char* kMatch = "\x1b[01;31m";
constexpr const char* kReset = "\x1b[m";

// Export text on one line: carriage returns dropped, a line feed as a space;
// when escaped, the rest as AppendShown shows it, so that nothing in the
// data drives the terminal.
void AppendText(std::string& out, std::string_view text, bool escape) {
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\n') out.push_back(' ');
            ++i;
        } else if (escape) {
            i = AppendShown(out, text, i);
        } else {
            out.push_back(c);
            ++i;
        }
    }
}

// The context as a log line names it, up to the element's line number.
void AppendContext(std::string& out, const ScanContext& c, std::int64_t element_line, bool escape) {
    bool any = false;
    for (std::size_t i = 0; i < kShownContextFields; ++i) {
        const std::string& value = c.*kContextFields[i].value;
        if (value.empty()) continue;
        if (any) out.append("  ");
        any = true;
        out.append(kContextFields[i].label);
        AppendText(out, value, escape);
        if (i == kElementField) {
            out.push_back('(');
            AppendPadded(out, static_cast<std::uint64_t>(element_line), 4);
            out.push_back(')');
        }
    }
}

}  // namespace

bool NoColorAsked() {
    const char* value = std::getenv("NO_COLOR");
    return value && *value;
}

void PrintSink::Begin(const SearchStart& start) {
    export_name = std::string(start.export_name);
    word = start.word;
    last_line = 0;
    needles = start.strings;  // upper-cased once, as the data is
    for (std::string& needle : needles)
        for (char& ch : needle) ch = static_cast<char>(Fold(ch));
}

bool PrintSink::OnHit(const Hit& hit) {
    const std::string_view data = hit.data;
    // Where each string stands in the data, for the column and the
    // highlights: found blind to case, as the search found them.
    folded.resize(data.size());
    FoldInto(folded.data(), data);
    spans.clear();
    for (std::uint32_t s : hit.strings) {
        const std::string& needle = needles[s];
        if (needle.empty()) {
            spans.emplace_back(0, 0);
            continue;
        }
        for (std::size_t at = folded.find(needle); at != std::string::npos; at = folded.find(needle, at + 1))
            if (!word || WholeWord(folded, at, needle.size())) spans.emplace_back(at, at + needle.size());
    }
    std::sort(spans.begin(), spans.end());
    const std::size_t first = spans.empty() ? 0 : spans.front().first;

    std::string& o = buffer;
    if (before > 0 || after > 0) Separate(hit.export_line, hit.element, hit.element_line);
    if (color) o.append(kDim);
    AppendText(o, export_name, escape);
    o.push_back(':');
    AppendNumber(o, hit.export_line);
    o.push_back(':');
    AppendNumber(o, hit.data_at + first + 1);
    o.push_back(':');
    AppendContext(o, hit.context, hit.element_line, escape);
    o.append(" ::");
    if (color) o.append(kReset);
    o.push_back(' ');
    if (!color) {
        AppendText(o, data, escape);
    } else {
        std::size_t at = 0;
        // Runs of plain text and of strings, the overlapping ones merged.
        marked.assign(data.size(), 0);
        for (const auto& [s, e] : spans)
            for (std::size_t b = s; b < e; ++b) marked[b] = true;
        while (at < data.size()) {
            std::size_t end = at + 1;
            while (end < data.size() && marked[end] == marked[at]) ++end;
            if (marked[at]) o.append(kMatch);
            AppendText(o, data.substr(at, end - at), escape);
            if (marked[at]) o.append(kReset);
            at = end;
        }
    }
    o.push_back('\n');
    last_line = hit.export_line;
    last_element = hit.element;
    last_element_line = hit.element_line;
    MaybeWrite();
    return !closed;
}

void PrintSink::Separate(std::uint64_t export_line, std::uint64_t element, std::int64_t element_line) {
    // Lines that follow each other, or the element's next data line after
    // blank lines (which are no data lines), are one group.
    const bool next = export_line == last_line + 1 ||
                      (element == last_element && element_line == last_element_line + 1 && export_line > last_line);
    if (last_line != 0 ? !next : separate_first) buffer.append("--\n");
}

void PrintSink::MaybeWrite() {
    if (each_line || buffer.size() >= (std::size_t{1} << 16)) Write();
}

void PrintSink::Write() {
    errno = 0;
    if (!buffer.empty() && !closed && (!WriteOut(out, buffer, stop) || (each_line && std::fflush(out) != 0))) {
        if (errno == ECANCELED) {
            closed = true;  // the run was stopped, and the reader takes nothing
        } else {
            failed = true;
            if (errno == EPIPE) {
                closed = true;
                if (on_closed) on_closed();
            }
        }
    }
    buffer.clear();
}

void PrintSink::OnNearLine(const NearLine& line) {
    if (!Shows(line, before, after)) return;
    std::string& o = buffer;
    Separate(line.export_line, line.element, line.element_line);
    if (color) o.append(kDim);
    AppendText(o, export_name, escape);
    o.push_back('-');
    AppendNumber(o, line.export_line);
    o.push_back('-');
    if (color) o.append(kReset);
    AppendText(o, line.data, escape);
    o.push_back('\n');
    last_line = line.export_line;
    last_element = line.element;
    last_element_line = line.element_line;
    MaybeWrite();
}

void PrintSink::Finish(const RunResult&) {
    Write();
    if (!closed && (std::fflush(out) != 0 || std::ferror(out))) failed = true;
}
