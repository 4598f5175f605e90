// The reading loop of a run.
#include "pipeline.h"

#include <algorithm>
#include <memory>

#include "scan_ahead.h"
#include "scanner.h"

namespace {

constexpr std::uint64_t kNone = ~std::uint64_t{0};

// Where something next occurs in the export, looked up ahead of the lines
// over the rest of the buffer at once and kept until the lines pass it, so
// that stretches free of it are not looked at line by line. `find(from)`
// gives the first place at or after buffer offset `from` where it occurs, or
// the end of the buffer.
struct Lookahead {
    std::uint64_t next = kNone;    // where it next occurs, or kNone
    std::uint64_t scanned_to = 0;  // the buffer was searched up to here
};

// Searches from `a`, a line start at or after the start of the buffer.
template <class Find>
void SearchAhead(Lookahead& s, const LineReader& r, std::uint64_t a, const Find& find) {
    const std::size_t from = BufferOffset(r, a), at = find(from);
    s.next = at < r.end ? a + (at - from) : kNone;
    s.scanned_to = a + (r.end - from);
}

// How far the lines from the reader's position on are known to be free of
// it. After a refill the search starts over at the position: the new marks
// may hold what the old end of the buffer cut (a search string).
template <class Find>
std::uint64_t FreeUpTo(Lookahead& s, const LineReader& r, const Find& find) {
    if (s.next != kNone && s.next >= r.position) return s.next;
    const std::uint64_t buffered_end = r.position + (r.end - r.begin);
    if (s.next != kNone || s.scanned_to < buffered_end) SearchAhead(s, r, r.position, find);
    return s.next == kNone ? s.scanned_to : s.next;
}

// What the run looks ahead for, by their marks: "<", zero bytes and the
// places where a search string starts.
struct Ahead {
    Lookahead tag, zero, match;
};

auto MarksFinder(const LineReader& r, const std::vector<std::uint64_t>& marks) {
    return [&r, &marks](std::size_t from) { return NextMark(marks.data(), from, r.end); };
}

// How far the lines from the reader's position on can change nothing but
// counts: none holds a "<", and inside an element none holds a zero byte
// (which cuts the line) or a possible match.
std::uint64_t CountOnlyUpTo(RunState& run, Ahead& ahead, const LineReader& reader) {
    const Matcher& m = run.matcher;
    std::uint64_t limit = FreeUpTo(ahead.tag, reader, MarksFinder(reader, reader.marks.tag));
    const std::size_t tag = BufferOffset(reader, limit);
    // The next line holds a "<" (the common case): nothing to count ahead.
    if (tag < reader.end && NextMark(reader.marks.lf.data(), reader.begin, tag) == tag) return reader.position;
    if (run.scanner.next_level != 4) return limit;
    if (!m.empties.empty()) return 0;  // every data line matches
    limit = std::min(limit, FreeUpTo(ahead.zero, reader, MarksFinder(reader, reader.marks.zero)));
    if (reader.matcher) limit = std::min(limit, FreeUpTo(ahead.match, reader, MarksFinder(reader, reader.marks.match)));
    return limit;
}

}  // namespace

std::uint64_t ScanExport(RunState& run, LineReader& reader, Progress& progress, Display& display,
                         const Clock& now) {
    std::uint64_t line_number = 0;
    Ahead ahead;
    std::uint64_t next_update = NextUpdateAt(progress, reader.position);
    std::string_view line;
    const std::shared_ptr<ScanAhead> scan_ahead = StartScanningAhead(reader, run);
    // The reading thread scans with what it was given until it is stopped.
    struct StopAtEnd {
        LineReader& reader;
        ~StopAtEnd() { StopReadingAhead(reader); }
    } stop_at_end{reader};
    Following following;
    for (;;) {
        bool scan = true;
        // Lines that can change nothing but counts are counted, and so are
        // lines the reading thread scanned, but those where a string starts.
        if (line_number > 0) {
            if (!following.block) {
                const std::uint64_t limit = std::min(CountOnlyUpTo(run, ahead, reader), next_update);
                std::int64_t filled = 0;
                SkipLines(reader, limit, line_number, filled);
                if (run.scanner.next_level == 4) run.context.trigger_line += filled;
                StartFollowing(following, scan_ahead.get(), run, reader);
            }
            if (following.block) {
                const std::uint64_t before = line_number;
                scan = Follow(run, reader, following, next_update, line_number);
                run.lines_scanned_ahead += line_number - before + !scan;
            }
        }
        if (!ReadLine(reader, line)) break;
        ++line_number;
        if (reader.utf16 && !progress.utf16) {  // known from the first block on
            progress.utf16 = true;
            next_update = NextUpdateAt(progress, reader.position);
        }
        if (scan) {
            run.export_line = FileLineNumber(reader, line_number);
            run.line_offset = ContinuesCutLine(reader) ? reader.cut_line_offset : FileOffset(reader, reader.line_start);
            LineFacts facts;
            const std::size_t a = static_cast<std::size_t>(line.data() - reader.buffer.data()), b = a + line.size();
            facts.may_hold_tag = AnyMark(reader.marks.tag.data(), a, b);
            facts.may_hold_zero = AnyMark(reader.marks.zero.data(), a, b);
            facts.may_match = !run.matcher.empties.empty() || (reader.matcher && AnyMark(reader.marks.match.data(), a, b));
            facts.tag_marks = reader.marks.tag.data();
            facts.marks_base = reader.buffer.data();
            run.match_marks = reader.matcher ? reader.marks.match.data() : nullptr;
            run.marks_base = reader.buffer.data();
            ProcessStream(run, line, facts);
        }
        if (reader.position < next_update) continue;  // the display cannot have changed
        UpdateProgress(progress, display, FileOffset(reader, reader.position), line_number, now);
        next_update = NextUpdateAt(progress, reader.position);
    }
    run.match_marks = nullptr;  // they go with the buffer
    return line_number;
}
