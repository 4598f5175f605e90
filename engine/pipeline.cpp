// The reading loop of a run.
#include "pipeline.h"

#include <algorithm>
#include <bit>
#include <array>
#include <atomic>
#include <memory>
#include <new>

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

// Scanning ahead. While the lines of one block are scanned, the reading
// thread scans the next block from a guess: that the lines reach it between
// two occurrences of the table they are in. An occurrence's start clears
// whatever else the state held, so from the first line that starts one
// (when the guess holds before it) the two scans agree line for line. The
// lines then take what the reading thread found: they are counted, and only
// those where a search string starts are scanned, each from the state found
// before it. When the guess is wrong the lines are scanned as always.

// The scanner's state before a line, or after the last line scanned ahead.
struct ScanPoint {
    std::size_t at = 0;  // buffer offset of the line
    ScannerState scanner;
    ScanContext context;
};

// What the reading thread found in one block.
struct Speculation {
    const char* buffer = nullptr;  // the buffer scanned; null when nothing was
    std::size_t start = 0;         // the line the guess holds before
    int row = -1;                  // the guess: between occurrences of this table
    std::vector<ScanPoint> points;  // before each line where a string starts
    std::size_t used = 0;           // points in use, the others kept for their room
    ScanPoint last;                 // after the lines scanned, at the line after them
};

// Scanning the lines where a string starts from the states found costs more
// than scanning the block when there are many: scanning ahead stops at this
// many.
constexpr std::size_t kMaxPoints = 256;
constexpr std::size_t kBytesPerPoint = 512;  // nor when they stand closer than this

struct Speculator {
    int row = -1;  // the table whose tag the blocks read so far hold last
    bool every_line_matches = false;  // an empty string: every data line is a hit
    const Matcher* matcher = nullptr;  // when set, its strings are marked
    std::array<Speculation, 2> slots;
    RunState run;  // the reading thread's own scanner
};

void Keep(ScanPoint& point, std::size_t at, const RunState& run) {
    point.at = at;
    point.scanner = run.scanner;
    point.context = run.context;
}

// The table of the last line in buffer[begin, end) that holds a table's
// tag, or `row` when none does. The lines between two tables are those of
// the first, in an export as it is written.
int LastTable(const char* buffer, const Marks& m, std::size_t begin, std::size_t end, int row) {
    if (begin >= end) return row;
    for (std::size_t w = (end - 1) >> 6;; --w) {
        std::uint64_t bits = m.tag[w];
        if (w == begin >> 6) bits &= ~std::uint64_t{0} << (begin & 63);
        for (; bits; bits &= ~(std::uint64_t{1} << (63 - std::countl_zero(bits)))) {
            const std::size_t at = (w << 6) + 63 - static_cast<std::size_t>(std::countl_zero(bits));
            if (at >= end || !TableTagAt(buffer + at, end - at)) continue;
            std::size_t start = at;
            while (start > begin && buffer[start - 1] != '\n') --start;
            LineFacts facts;
            facts.tag_marks = m.tag.data();
            facts.marks_base = buffer;
            const int found = TableOpened(std::string_view(buffer + start, NextMark(m.lf.data(), at, end) - start), facts);
            if (found >= 0) return found;
        }
        if (w == begin >> 6) return row;
    }
}

// Scans the lines whole in buffer[begin, end) on the reading thread, until
// done or stopped.
void Speculate(Speculator& sp, const char* buffer, const Marks& m, std::size_t begin, std::size_t end, int slot,
               const std::atomic<bool>& stop) {
    Speculation& s = sp.slots[static_cast<std::size_t>(slot)];
    s.buffer = nullptr;
    s.used = 0;
    const int guess = sp.row;
    sp.row = LastTable(buffer, m, begin, end, guess);
    if (guess < 0 || sp.every_line_matches) return;
    RunState& run = sp.run;
    AwaitOccurrence(run.scanner, guess);
    // The lines whole in the block: its first may have begun in the block
    // before, its last goes on in the next.
    const std::size_t first_lf = NextMark(m.lf.data(), begin, end), last_lf = LastMark(m.lf.data(), begin, end);
    if (first_lf == last_lf) return;
    std::size_t at = first_lf + 1;
    const std::size_t lines_end = last_lf + 1;
    bool started = false;
    while (at < lines_end && !stop.load(std::memory_order_relaxed)) {
        if (run.scanner.next_level != 4) {
            // Outside an element a line without a "<" changes nothing.
            const std::size_t tag = NextMark(m.tag.data(), at, lines_end);
            if (tag == lines_end) {
                at = lines_end;
                break;
            }
            const std::size_t lf_before = LastMark(m.lf.data(), at, tag);
            if (lf_before != tag) at = lf_before + 1;
        }
        const std::size_t lf = NextMark(m.lf.data(), at, lines_end);
        std::size_t n = lf - at;
        if (n > 0 && buffer[lf - 1] == '\r') --n;
        LineFacts facts;
        facts.may_hold_tag = AnyMark(m.tag.data(), at, at + n);
        facts.may_hold_zero = AnyMark(m.zero.data(), at, at + n);
        facts.may_match = false;  // the hits are written as the lines reach them
        facts.tag_marks = m.tag.data();
        facts.marks_base = buffer;
        // A line where a string starts needs a point when it may hold a hit:
        // inside an element, or with a tag that may open one.
        const bool awaits = !started && AwaitsOccurrence(run.scanner, run.scanner.selected_row);
        const bool point = (started || awaits) && sp.matcher && (run.scanner.next_level == 4 || facts.may_hold_tag) &&
                           AnyMark(m.match.data(), at, at + n);
        if (point) {
            if (started && (s.used == kMaxPoints || (s.used >= 16 && s.used * kBytesPerPoint > at - s.start))) break;
            if (s.points.size() <= s.used) s.points.emplace_back();
            Keep(s.points[s.used++], at, run);
        }
        const int row = run.scanner.selected_row;
        ProcessStream(run, std::string_view(buffer + at, n), facts);
        if (!started) {
            if (awaits && run.scanner.next_level > 2) {  // an occurrence starts on this line
                started = true;
                s.start = at;
                s.row = row;
                s.buffer = buffer;
            } else {
                s.used = 0;
            }
        }
        at = lf + 1;
    }
    if (started) Keep(s.last, at, run);
}

// The lines following what was scanned ahead.
struct Following {
    const Speculation* s = nullptr;
    std::size_t next = 0;  // the next point
};

// Whether the lines have reached the start of what was scanned ahead of
// them in the block in the buffer, in the state guessed there.
const Speculation* Reached(const Speculator* sp, const RunState& run, const LineReader& reader) {
    if (!sp || reader.block_slot < 0) return nullptr;
    const Speculation& s = sp->slots[static_cast<std::size_t>(reader.block_slot)];
    if (s.buffer != reader.buffer.data() || reader.begin != s.start || s.last.at <= s.start) return nullptr;
    return AwaitsOccurrence(run.scanner, s.row) ? &s : nullptr;
}

// Counts the lines up to the next point (or the next progress update, at
// `next_update`), and takes the state there. Returns whether the next line is
// scanned: false for a line read only for the progress shown.
bool Follow(RunState& run, LineReader& reader, Following& f, std::uint64_t next_update, std::uint64_t& line_number) {
    const Speculation& s = *f.s;
    const ScanPoint& point = f.next < s.used ? s.points[f.next] : s.last;
    std::int64_t filled = 0;  // the state comes from the point
    SkipLines(reader, std::min(reader.position + (point.at - reader.begin), next_update), line_number, filled);
    if (reader.begin != point.at) return false;
    run.scanner = point.scanner;
    run.context = point.context;
    if (++f.next > s.used) f.s = nullptr;
    return true;
}

}  // namespace

std::uint64_t ScanExport(RunState& run, LineReader& reader, Progress& progress, Display& display,
                         const Clock& now) {
    std::uint64_t line_number = 0;
    Ahead ahead;
    std::uint64_t next_update = NextUpdateAt(progress, reader.position);
    std::string_view line;
    std::shared_ptr<Speculator> speculator;
    if (reader.allow_read_ahead && !reader.read_ahead) {
        speculator = std::make_shared<Speculator>();
        speculator->every_line_matches = !run.matcher.empties.empty();
        speculator->matcher = reader.matcher;
        reader.ahead_work = [sp = speculator](const char* buffer, const Marks& marks, std::size_t begin,
                                              std::size_t end, int slot, const std::atomic<bool>& stop) {
            try {
                Speculate(*sp, buffer, marks, begin, end, slot, stop);
            } catch (const std::bad_alloc&) {  // the lines are scanned as always
                sp->slots[static_cast<std::size_t>(slot)].buffer = nullptr;
            }
        };
    }
    // The reading thread scans with what it was given until it is stopped.
    struct StopAtEnd {
        LineReader& reader;
        ~StopAtEnd() { StopReadingAhead(reader); }
    } stop_at_end{reader};
    Following following;
    for (;;) {
        bool scan = true;
        if (line_number > 0) {
            if (!following.s) {
                const std::uint64_t limit = std::min(CountOnlyUpTo(run, ahead, reader), next_update);
                std::int64_t filled = 0;
                SkipLines(reader, limit, line_number, filled);
                if (run.scanner.next_level == 4) run.context.trigger_line += filled;
                following.s = Reached(speculator.get(), run, reader);
                following.next = 0;
            }
            if (following.s) {
                const std::uint64_t before = line_number;
                scan = Follow(run, reader, following, next_update, line_number);
                run.lines_scanned_ahead += line_number - before + !scan;
            }
        }
        // How far the line is known to be free of each, known before it is
        // read: a line that a refill completes may hold any.
        const std::uint64_t tag_from = scan ? FreeUpTo(ahead.tag, reader, MarksFinder(reader, reader.marks.tag)) : 0;
        const std::uint64_t zero_from = scan ? FreeUpTo(ahead.zero, reader, MarksFinder(reader, reader.marks.zero)) : 0;
        const std::uint64_t match_from =
            scan && reader.matcher ? FreeUpTo(ahead.match, reader, MarksFinder(reader, reader.marks.match)) : 0;
        if (!ReadLine(reader, line)) break;
        ++line_number;
        if (reader.utf16 && !progress.utf16) {  // known from the first block on
            progress.utf16 = true;
            next_update = NextUpdateAt(progress, reader.position);
        }
        if (scan) {
            run.export_line = line_number;
            run.line_offset = FileOffset(reader, reader.line_start);
            LineFacts facts;
            const std::uint64_t line_end = reader.line_start + line.size();
            facts.may_hold_tag = tag_from < line_end;
            facts.may_hold_zero = zero_from < line_end;
            facts.may_match = !run.matcher.empties.empty() || (reader.matcher && match_from < line_end);
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
