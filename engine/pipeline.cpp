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

// Following the structure alone. Where a stretch of whole lines holds no
// place where a search string starts, none of them can hold a hit: they are
// followed for the levels, the table and the element's end tag only
// (FollowLines, which visits only the lines that hold a "<"). The context is
// then rebuilt for the line where the stretch ends, by scanning in full from
// the last place where the whole state is known: the last occurrence's start
// in the stretch (the context is empty there), or else the stretch's start.
// Stretches shorter than the run's `follow_at_least` are scanned as they come.
//
// The stretch runs from the reader's position up to the line where a string
// starts next, the last whole line in the buffer, the line that may take the
// progress to `next_update` (read as always, so the display changes where it
// always did) or the line where the walk ahead takes over (`walk_start`).
// Its lines are consumed and counted in `line_number`; the run is left in the
// state after them, its context included.
void FollowStructure(RunState& run, LineReader& r, Lookahead& match, std::uint64_t next_update, std::size_t walk_start,
                     std::uint64_t& line_number) {
    if (next_update <= r.position) return;  // the display may change after the next line
    const std::uint64_t free_to = FreeUpTo(match, r, MarksFinder(r, r.marks.match));
    if (free_to - r.position < run.follow_at_least) return;
    const std::uint64_t* lf = r.marks.lf.data();
    const std::size_t from = r.begin;
    // The end: a line start, with nothing but whole lines before it, none
    // of them longer than the reader keeps lines whole.
    const std::size_t reach = std::min(r.end, from + kMaxLineLength);
    std::size_t to = LastMark(lf, from, reach);
    if (to == reach) return;  // not one whole line
    ++to;
    if (free_to < r.position + (r.end - r.begin)) {  // the line where a string starts
        const std::size_t at = BufferOffset(r, free_to), before = LastMark(lf, from, at);
        to = std::min(to, before == at ? from : before + 1);
    }
    if (next_update - 1 < r.position + (to - from)) {
        const std::size_t at = BufferOffset(r, next_update - 1), before = LastMark(lf, from, at);
        to = before == at ? from : before + 1;
    }
    if (walk_start > from) to = std::min(to, walk_start);  // where the walk ahead of the lines takes over
    if (to <= from) return;

    // The walk changes the levels alone; they are put back when the context
    // is rebuilt from the stretch's start.
    const ScannerState levels = run.scanner;
    OccurrenceStart occurrence;
    std::size_t occurrence_line = ~std::size_t{0};
    to = FollowLines(run, r.buffer.data(), r.marks, from, to, occurrence, occurrence_line);
    if (!occurrence.text) run.scanner = levels;
    const std::size_t text = occurrence.text ? static_cast<std::size_t>(occurrence.text - r.buffer.data()) : 0;
    CatchUp(run, r, occurrence.text ? occurrence_line : ~std::size_t{0}, text, occurrence.row, to, line_number);
}

// The reference: each line read whole and handed to the scanner with
// nothing known of it, the progress looked at after every line.
std::uint64_t ScanLineByLine(RunState& run, LineReader& reader, Progress& progress, Display& display,
                             const Clock& now) {
    std::uint64_t line_number = 0;
    std::uint64_t next_update = NextUpdateAt(progress, reader.position);
    std::string_view line;
    while (ReadLine(reader, line)) {
        ++line_number;
        if (reader.utf16 && !progress.utf16) {
            progress.utf16 = true;
            next_update = NextUpdateAt(progress, reader.position);
        }
        run.export_line = FileLineNumber(reader, line_number);
        run.line_offset = ContinuesCutLine(reader) ? reader.cut_line_offset : FileOffset(reader, reader.line_start);
        ProcessStream(run, line);
        if (reader.position < next_update) continue;
        UpdateProgress(progress, display, FileOffset(reader, reader.position), line_number, now);
        next_update = NextUpdateAt(progress, reader.position);
    }
    return line_number;
}

// Where the display may change next, or where a run that may be
// interrupted looks at its flag, whichever comes first.
std::uint64_t NextStop(const Progress& p, const RunState& run, std::uint64_t position) {
    const std::uint64_t at = NextUpdateAt(p, position);
    return run.cancel ? std::min(at, position + kClockStride) : at;
}

}  // namespace

std::uint64_t ScanExport(RunState& run, LineReader& reader, Progress& progress, Display& display,
                         const Clock& now) {
    if (run.line_by_line) return ScanLineByLine(run, reader, progress, display, now);
    std::uint64_t line_number = 0;
    Ahead ahead;
    std::uint64_t next_update = NextStop(progress, run, reader.position);
    std::string_view line;
    // With a place marked wherever a string starts, the lines where none
    // does need their structure alone (not with an empty string: it is in
    // every data line).
    const bool follow_structure = reader.matcher && run.matcher.empties.empty();
    const std::shared_ptr<ScanAhead> scan_ahead = StartScanningAhead(reader, run);
    // The reading thread scans with what it was given until it is stopped.
    struct StopAtEnd {
        LineReader& reader;
        ~StopAtEnd() { StopReadingAhead(reader); }
    } stop_at_end{reader};
    Following following;
    for (;;) {
        // Lines that can change nothing but counts are counted, and so are
        // lines whose structure was walked (here or ahead of them), but
        // those where a string starts.
        if (line_number > 0) {
            if (!following.block) {
                const std::uint64_t limit = std::min(CountOnlyUpTo(run, ahead, reader), next_update);
                std::int64_t filled = 0;
                SkipLines(reader, limit, line_number, &filled);
                if (run.scanner.next_level == 4) run.context.trigger_line += filled;
                StartFollowing(following, scan_ahead.get(), run, reader);
                if (!following.block && follow_structure) {
                    // Up to where the walk ahead starts, which may then take over.
                    FollowStructure(run, reader, ahead.match, next_update,
                                    following.refills == reader.refills ? following.start : 0, line_number);
                    StartFollowing(following, scan_ahead.get(), run, reader);
                }
            }
            if (following.block) Follow(run, reader, following, next_update, line_number);
        }
        if (!ReadLine(reader, line)) break;
        ++line_number;
        if (reader.utf16 && !progress.utf16) {  // known from the first block on
            progress.utf16 = true;
            next_update = NextStop(progress, run, reader.position);
        }
        {  // the line, scanned in full
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
        if (run.cancel && run.cancel->load(std::memory_order_relaxed)) {
            run.interrupted = true;
            break;
        }
        next_update = NextStop(progress, run, reader.position);
    }
    run.match_marks = nullptr;  // they go with the buffer
    return line_number;
}
