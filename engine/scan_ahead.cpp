// The reading thread's walk ahead of the lines, and the lines following it.
#include "scan_ahead.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <new>
#include <vector>

#include "marks.h"
#include "scanner.h"

namespace {

constexpr std::size_t kNone = ~std::size_t{0};

}  // namespace

// A line where a search string starts (or where the walk ended), with the
// last occurrence's start before it: the whole state of the line can be
// rebuilt from there. Offsets are the buffer's.
struct AheadPoint {
    std::size_t at = 0;
    std::size_t occurrence_line = kNone;  // kNone: no occurrence started in the walk before it
    std::size_t occurrence_text = 0;      // the text after its "<OCC>"
    int row = -1;
};

// What the reading thread found in one block.
struct BlockAhead {
    const char* buffer = nullptr;  // the buffer walked; null when nothing was
    std::size_t start = 0;         // the line the guess holds before
    int row = -1;                  // the guess: between occurrences of this table
    std::vector<AheadPoint> points;  // the lines where a string starts
    std::size_t used = 0;            // points in use, the others kept for their room
    AheadPoint last;                 // where the walk ended: the line after it
};

// Where strings start on nearly every line, the lines are cheaper scanned as
// they come than rebuilt line by line: the walk stops after this many
// points, or where they stand closer than this many bytes apart.
constexpr std::size_t kMaxPoints = 4096;
constexpr std::size_t kBytesPerPoint = 256;
// The walk looks at the stop flag at least this often (bytes).
constexpr std::size_t kStride = std::size_t{64} << 10;

struct ScanAhead {
    int row = -1;  // the table whose tag the blocks read so far hold last
    std::array<BlockAhead, 2> slots;
    RunState run;  // the reading thread's own scanner
    Delays delays;  // tests: pauses at random points of the walk
};

namespace {

// The table of the last line in buffer[begin, end) that holds a table's
// tag, or `row` when none does: in an export as it is written, the lines
// after a table's tag are that table's until the next one.
int LastTable(const char* buffer, const Marks& m, std::size_t begin, std::size_t end, int row) {
    if (begin >= end) return row;
    for (std::size_t w = (end - 1) >> 6;; --w) {
        std::uint64_t bits = m.tag[w];
        if (w == begin >> 6) bits &= ~std::uint64_t{0} << (begin & 63);
        for (; bits; bits &= ~(std::uint64_t{1} << (63 - std::countl_zero(bits)))) {
            const std::size_t at = (w << 6) + 63 - static_cast<std::size_t>(std::countl_zero(bits));
            if (at >= end || !TableTagAt(buffer + at, end - at)) continue;
            const std::size_t lf_before = LastMark(m.lf.data(), begin, at);
            const std::size_t start = lf_before == at ? begin : lf_before + 1;
            LineFacts facts;
            facts.tag_marks = m.tag.data();
            facts.marks_base = buffer;
            const std::size_t line_end = NextMark(m.lf.data(), at, end);
            const int found = TableOpened(std::string_view(buffer + start, line_end - start), facts);
            if (found >= 0) return found;
        }
        if (w == begin >> 6) return row;
    }
}

// The start of the line that holds buffer offset `at`, no earlier than `from`.
std::size_t LineStart(const Marks& m, std::size_t from, std::size_t at) {
    const std::size_t before = LastMark(m.lf.data(), from, at);
    return before == at ? from : before + 1;
}

// Walks the lines whole in buffer[begin, end) on the reading thread, until
// done or stopped, into `slot`.
void ScanBlockAhead(ScanAhead& ahead, const char* buffer, const Marks& m, std::size_t begin, std::size_t end,
                    int slot, const std::atomic<bool>& stop) {
    BlockAhead& block = ahead.slots[static_cast<std::size_t>(slot)];
    block.buffer = nullptr;
    block.used = 0;
    const int guess = ahead.row;
    ahead.row = LastTable(buffer, m, begin, end, guess);
    if (guess < 0) return;
    RunState& run = ahead.run;
    AwaitOccurrence(run.scanner, guess);
    // The lines whole in the block: its first may have begun in the block
    // before, its last goes on in the next.
    const std::size_t first_lf = NextMark(m.lf.data(), begin, end), last_lf = LastMark(m.lf.data(), begin, end);
    if (first_lf == last_lf) return;
    const std::size_t lines_end = last_lf + 1;
    const bool zeros = AnyMark(m.zero.data(), begin, end);
    LineFacts facts;
    facts.may_match = false;
    facts.tag_marks = m.tag.data();
    facts.marks_base = buffer;

    // The first line that starts an occurrence while one is awaited.
    OccurrenceStart occurrence;
    std::size_t at = first_lf + 1;
    for (;;) {
        MaybeDelay(ahead.delays, 2048);
        if (stop.load(std::memory_order_relaxed)) return;
        const std::size_t tag = NextMark(m.tag.data(), at, lines_end);
        if (tag == lines_end) return;
        const std::size_t a = LineStart(m, at, tag), e = NextMark(m.lf.data(), tag, lines_end);
        const bool awaits = AwaitsOccurrence(run.scanner, run.scanner.selected_row);
        const int row = run.scanner.selected_row;
        facts.may_hold_zero = zeros && AnyMark(m.zero.data(), a, e);
        FollowLine(run, std::string_view(buffer + a, e - a), facts, occurrence);
        at = e + 1;
        if (awaits && run.scanner.next_level > 2) {
            block.start = a;
            block.row = row;
            break;
        }
    }
    AheadPoint anchor;  // the last occurrence's start: on the start line
    anchor.occurrence_line = block.start;
    anchor.occurrence_text = static_cast<std::size_t>(occurrence.text - buffer);
    anchor.row = occurrence.row;
    block.buffer = buffer;
    if (AnyMark(m.match.data(), block.start, at)) {
        if (block.points.empty()) block.points.emplace_back();
        block.points[0] = AheadPoint{};
        block.points[0].at = block.start;
        block.used = 1;
    }

    // On from line to line where a string starts, in strides.
    while (at < lines_end && !stop.load(std::memory_order_relaxed)) {
        MaybeDelay(ahead.delays, 2048);
        if (block.used == kMaxPoints || (block.used >= 16 && block.used * kBytesPerPoint > at - block.start)) break;
        const std::size_t match = NextMark(m.match.data(), at, lines_end);
        std::size_t to = match == lines_end ? lines_end : LineStart(m, at, match);
        bool candidate = to != lines_end;
        if (to - at > kStride) {  // a stride ends at a line's end
            to = NextMark(m.lf.data(), at + kStride, lines_end) + 1;
            candidate = false;
        }
        std::size_t occurrence_line = kNone;
        occurrence.text = nullptr;
        const std::size_t walked = FollowLines(run, buffer, m, at, to, occurrence, occurrence_line);
        if (occurrence.text) {
            anchor.occurrence_line = occurrence_line;
            anchor.occurrence_text = static_cast<std::size_t>(occurrence.text - buffer);
            anchor.row = occurrence.row;
        }
        at = walked;
        if (walked != to) break;  // a line the reader hands out in pieces
        if (!candidate) continue;
        if (block.points.size() <= block.used) block.points.emplace_back();
        AheadPoint& point = block.points[block.used++];
        point = anchor;
        point.at = to;
        // The line itself is walked too: the lines after it need its state.
        const std::size_t line_end = NextMark(m.lf.data(), to, lines_end) + 1;
        occurrence.text = nullptr;
        occurrence_line = kNone;
        if (FollowLines(run, buffer, m, to, line_end, occurrence, occurrence_line) != line_end) {
            --block.used;  // too long a line: the walk ends before it
            break;
        }
        if (occurrence.text) {
            anchor.occurrence_line = occurrence_line;
            anchor.occurrence_text = static_cast<std::size_t>(occurrence.text - buffer);
            anchor.row = occurrence.row;
        }
        at = line_end;
    }
    block.last = anchor;
    block.last.at = at;
}

}  // namespace

std::shared_ptr<ScanAhead> StartScanningAhead(LineReader& reader, const RunState& run) {
    // An empty string is in every data line: nothing to walk past.
    if (!reader.allow_read_ahead || reader.read_ahead || !reader.matcher || !run.matcher.empties.empty())
        return nullptr;
    auto ahead = std::make_shared<ScanAhead>();
    ahead->delays = DelaysFrom(reader.delay_seed ? reader.delay_seed + 1 : 0);
    reader.ahead_work = [ahead](const char* buffer, const Marks& marks, std::size_t begin, std::size_t end, int slot,
                                const std::atomic<bool>& stop) {
        try {
            ScanBlockAhead(*ahead, buffer, marks, begin, end, slot, stop);
        } catch (const std::bad_alloc&) {  // the lines are scanned as always
            ahead->slots[static_cast<std::size_t>(slot)].buffer = nullptr;
        }
    };
    return ahead;
}

void LookUpScanAhead(Following& f, const ScanAhead& ahead, const LineReader& reader) {
    f.refills = reader.refills;
    f.start = ~std::size_t{0};
    if (reader.block_slot < 0) return;
    const BlockAhead& block = ahead.slots[static_cast<std::size_t>(reader.block_slot)];
    if (block.buffer == reader.buffer.data() && block.last.at > block.start) f.start = block.start;
}

void TakeScanAhead(Following& f, const ScanAhead& ahead, const RunState& run, const LineReader& reader) {
    f.next = 0;
    if (reader.block_slot < 0) return;
    const BlockAhead& block = ahead.slots[static_cast<std::size_t>(reader.block_slot)];
    if (block.buffer != reader.buffer.data() || reader.begin != block.start || block.last.at <= block.start) return;
    if (AwaitsOccurrence(run.scanner, block.row)) f.block = &block;
}

namespace {

// Scans in full the whole lines in the buffer from `from` to `to` (a line
// start), none of them holding a hit.
void Replay(RunState& run, const LineReader& r, std::size_t from, std::size_t to) {
    const std::uint64_t* lf = r.marks.lf.data();
    LineFacts facts;
    facts.may_match = false;
    facts.tag_marks = r.marks.tag.data();
    facts.marks_base = r.buffer.data();
    for (std::size_t at = from; at < to;) {
        const std::size_t end = NextMark(lf, at, to);
        facts.may_hold_tag = AnyMark(r.marks.tag.data(), at, end);
        facts.may_hold_zero = AnyMark(r.marks.zero.data(), at, end);
        ProcessStream(run, std::string_view(r.buffer.data() + at, end - at), facts);
        at = end + 1;
    }
}

}  // namespace

void CatchUp(RunState& run, LineReader& r, std::size_t occurrence_line, std::size_t occurrence_text, int row,
             std::size_t to, std::uint64_t& line_number) {
    if (occurrence_line != kNone && occurrence_line >= r.begin && occurrence_line < to) {
        SkipLines(r, r.position + (occurrence_line - r.begin), line_number);
        StartOccurrence(run, row);
        const std::size_t end = NextMark(r.marks.lf.data(), occurrence_line, to);
        LineFacts facts;
        facts.may_match = false;
        facts.may_hold_zero = AnyMark(r.marks.zero.data(), occurrence_line, end);
        facts.tag_marks = r.marks.tag.data();
        facts.marks_base = r.buffer.data();
        const std::string_view line =
            TrimmedLine(std::string_view(r.buffer.data() + occurrence_line, end - occurrence_line), facts);
        const std::size_t text = occurrence_text - occurrence_line;
        if (text < line.size()) ProcessRest(run, line.substr(text), facts);
        Replay(run, r, end + 1, to);
    } else {
        Replay(run, r, r.begin, to);
    }
    SkipLines(r, r.position + (to - r.begin), line_number);  // scanned, or before the context starts
}

void Follow(RunState& run, LineReader& reader, Following& f, std::uint64_t next_update, std::uint64_t& line_number) {
    // Lines read one by one meanwhile (for the progress shown) may have
    // passed points, or left the block: what was walked behind them is done.
    // (A block left behind is not looked at again: the reading thread may be
    // walking the next one into its room.)
    if (f.refills != reader.refills) {
        f.block = nullptr;
        return;
    }
    const BlockAhead& block = *f.block;
    while (f.next <= block.used && (f.next < block.used ? block.points[f.next] : block.last).at < reader.begin) ++f.next;
    if (f.next > block.used) {
        f.block = nullptr;
        return;
    }
    const AheadPoint& point = f.next < block.used ? block.points[f.next] : block.last;
    if (next_update <= reader.position) return;  // the display may change after the next line
    std::size_t to = point.at;
    bool reached = true;
    if (next_update - 1 < reader.position + (to - reader.begin)) {  // that line is read as always
        const std::size_t at = BufferOffset(reader, next_update - 1), before = LastMark(reader.marks.lf.data(), reader.begin, at);
        to = before == at ? reader.begin : before + 1;
        reached = false;
    }
    const std::uint64_t before = line_number;
    CatchUp(run, reader, point.occurrence_line, point.occurrence_text, point.row, to, line_number);
    run.lines_scanned_ahead += line_number - before;
    if (reached && ++f.next > block.used) f.block = nullptr;
}
