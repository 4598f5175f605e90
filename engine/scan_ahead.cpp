// The reading thread's scan ahead of the lines, and the lines following it.
#include "scan_ahead.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <new>
#include <vector>

#include "marks.h"
#include "scanner.h"

// The scanner's state before a line, or after the last line scanned ahead.
struct ScanPoint {
    std::size_t at = 0;  // buffer offset of the line
    ScannerState scanner;
    ScanContext context;
};

// What the reading thread found in one block.
struct BlockAhead {
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

struct ScanAhead {
    int row = -1;  // the table whose tag the blocks read so far hold last
    bool every_line_matches = false;  // an empty string: every data line is a hit
    const Matcher* matcher = nullptr;  // when set, its strings are marked
    std::array<BlockAhead, 2> slots;
    RunState run;  // the reading thread's own scanner
};

namespace {

void Keep(ScanPoint& point, std::size_t at, const RunState& run) {
    point.at = at;
    point.scanner = run.scanner;
    point.context = run.context;
}

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

// Scans the lines whole in buffer[begin, end) on the reading thread, until
// done or stopped, into `slot`.
void ScanBlockAhead(ScanAhead& ahead, const char* buffer, const Marks& m, std::size_t begin, std::size_t end,
                    int slot, const std::atomic<bool>& stop) {
    BlockAhead& block = ahead.slots[static_cast<std::size_t>(slot)];
    block.buffer = nullptr;
    block.used = 0;
    const int guess = ahead.row;
    ahead.row = LastTable(buffer, m, begin, end, guess);
    if (guess < 0 || ahead.every_line_matches) return;
    RunState& run = ahead.run;
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
        const bool point = (started || awaits) && ahead.matcher && (run.scanner.next_level == 4 || facts.may_hold_tag) &&
                           AnyMark(m.match.data(), at, at + n);
        if (point) {
            if (started && (block.used == kMaxPoints || (block.used >= 16 && block.used * kBytesPerPoint > at - block.start))) break;
            if (block.points.size() <= block.used) block.points.emplace_back();
            Keep(block.points[block.used++], at, run);
        }
        const int row = run.scanner.selected_row;
        ProcessStream(run, std::string_view(buffer + at, n), facts);
        if (!started) {
            if (awaits && run.scanner.next_level > 2) {  // an occurrence starts on this line
                started = true;
                block.start = at;
                block.row = row;
                block.buffer = buffer;
            } else {
                block.used = 0;
            }
        }
        at = lf + 1;
    }
    if (started) Keep(block.last, at, run);
}

}  // namespace

std::shared_ptr<ScanAhead> StartScanningAhead(LineReader& reader, const RunState& run) {
    if (!reader.allow_read_ahead || reader.read_ahead) return nullptr;
    auto ahead = std::make_shared<ScanAhead>();
    ahead->every_line_matches = !run.matcher.empties.empty();
    ahead->matcher = reader.matcher;
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
    f.buffer = reader.buffer.data();
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

bool Follow(RunState& run, LineReader& reader, Following& f, std::uint64_t next_update, std::uint64_t& line_number) {
    const BlockAhead& block = *f.block;
    const ScanPoint& point = f.next < block.used ? block.points[f.next] : block.last;
    std::int64_t filled = 0;  // the state comes from the point
    SkipLines(reader, std::min(reader.position + (point.at - reader.begin), next_update), line_number, filled);
    if (reader.begin != point.at) return false;
    run.scanner = point.scanner;
    run.context = point.context;
    if (++f.next > block.used) f.block = nullptr;
    return true;
}
