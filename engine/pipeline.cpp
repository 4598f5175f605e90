// The blocks through the two stages, on as many threads as there are.
#include "pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "cpu.h"
#include "replay.h"
#include "scanner.h"
#include "tag_index.h"
#include "test_hooks.h"
#include "walk.h"

namespace {

// Where the next line that may hold a hit is closer than this, the lines
// before it are scanned in full rather than walked: there is little to skip.
constexpr std::size_t kWalkAtLeast = 512;

// A block and what stage 1 found in it.
struct Slot {
    enum class State { Free, Busy, Ready };
    State state = State::Free;
    std::uint64_t number = 0;  // the block's place in the export
    bool has_block = false;    // false: the export ended before it
    bool failed = false;       // memory ran out while it was read or indexed
    Block block;
    Marks marks;
    TagIndex index;
};

// Stage 1: what the threads share. Blocks are read one at a time, in order
// (under `read_mutex`), into the slot of their number; each is then marked
// and indexed by the thread that read it, apart from the others.
struct Stage1 {
    Stage1(ExportReader& r, Matcher& m, bool index, std::size_t slot_count)
        : reader(r), matcher(m), indexed(index), slots(slot_count) {}
    ExportReader& reader;
    Matcher& matcher;  // tuned on the first block, then only read
    const bool indexed;  // marks and index wanted (not for reading line by line)
    const bool mark_matches = !matcher.needles.empty();
    const bool wide = HasAvx2();
    std::vector<Slot> slots;
    std::mutex read_mutex;
    std::mutex mutex;  // guards what follows, and each slot's state
    std::condition_variable changed;
    std::uint64_t next_read = 0;  // the block to read next
    bool reading = false;         // a thread reads a block
    bool input_done = false;      // no block is read after the last one taken
    bool quit = false;
};

Slot& SlotOf(Stage1& s1, std::uint64_t number) { return s1.slots[number % s1.slots.size()]; }

// Marks and indexes a block that was read.
void IndexSlot(Stage1& s1, Slot& slot) {
    Block& b = slot.block;
    SizeMarks(slot.marks, b.buffer.room);
    MarkBytes(b.buffer.data(), b.begin, b.end, slot.marks, s1.wide);
    if (s1.mark_matches) MarkMatches(s1.matcher, b.buffer.data(), b.begin, b.end, slot.marks);
    IndexBlock(b.buffer.data(), b.begin, b.end, slot.marks, slot.index);
}

// Takes the next block to read, reads it and indexes it. False when no
// block was taken: the export has ended, or (unless the thread may wait for
// them) another thread is reading or the block's slot is not yet free.
struct Waits {
    bool for_reader;  // for another thread's read to end
    bool for_slot;    // for stage 2 to free the slot (never the thread of stage 2)
};

bool TakeBlock(Stage1& s1, Waits waits, Delays& delays) {
    std::unique_lock<std::mutex> read_lock(s1.read_mutex, std::defer_lock);
    Slot* slot = nullptr;
    std::uint64_t number = 0;
    for (;;) {
        if (waits.for_slot) {  // never while holding the reader: the thread of stage 2 may want it
            std::unique_lock<std::mutex> lock(s1.mutex);
            s1.changed.wait(lock, [&] {
                return s1.quit || s1.input_done || SlotOf(s1, s1.next_read).state == Slot::State::Free;
            });
        }
        if (waits.for_reader)
            read_lock.lock();
        else if (!read_lock.try_lock())
            return false;
        std::lock_guard<std::mutex> lock(s1.mutex);
        if (s1.quit || s1.input_done) return false;
        number = s1.next_read;
        slot = &SlotOf(s1, number);
        if (slot->state == Slot::State::Free) {
            slot->state = Slot::State::Busy;
            slot->number = number;
            ++s1.next_read;
            s1.reading = true;
            break;
        }
        if (!waits.for_slot) return false;
        read_lock.unlock();  // another thread took it first: wait again
    }
    MaybeDelay(delays);
    bool got = false, failed = false;
    try {
        got = NextBlock(s1.reader, slot->block);
        if (got && number == 0 && s1.mark_matches) {
            // The first bytes tell which are rare, before any block is marked.
            const Block& b = slot->block;
            TuneMatcher(s1.matcher, std::string_view(b.buffer.data() + b.begin, std::min<std::size_t>(b.end - b.begin, 1 << 18)));
        }
    } catch (const std::bad_alloc&) {
        failed = true;
    }
    {
        std::lock_guard<std::mutex> lock(s1.mutex);
        s1.reading = false;
        if (!got || failed) s1.input_done = true;  // nothing after it
    }
    read_lock.unlock();
    s1.changed.notify_all();  // the next block may be read
    MaybeDelay(delays);
    if (got && !failed && s1.indexed) {
        try {
            IndexSlot(s1, *slot);
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        MaybeDelay(delays);
    }
    {
        std::lock_guard<std::mutex> lock(s1.mutex);
        slot->state = Slot::State::Ready;
        slot->has_block = got && !failed;
        slot->failed = failed;
    }
    s1.changed.notify_all();
    return true;
}

// The slot of block `number` once stage 1 is done with it, for stage 2.
// Meanwhile the thread of stage 2 reads and indexes blocks itself: that
// block when no other thread has taken it, else one after it while there
// is a free slot.
Slot& AwaitBlock(Stage1& s1, std::uint64_t number, Delays& delays) {
    Slot& slot = SlotOf(s1, number);
    for (;;) {
        bool untaken;
        {
            std::unique_lock<std::mutex> lock(s1.mutex);
            if (slot.number == number && slot.state == Slot::State::Ready) return slot;
            untaken = s1.next_read <= number;
            if (!untaken && (s1.input_done || s1.reading || SlotOf(s1, s1.next_read).state != Slot::State::Free)) {
                s1.changed.wait(lock);
                continue;
            }
        }
        TakeBlock(s1, Waits{untaken, false}, delays);
    }
}

// Stage 2: the state that goes from block to block, in order.
struct Stage2 {
    RunState& run;
    Progress& progress;
    Display& display;
    const Clock& now;
    const bool line_by_line;
    Walk walk;
    std::uint64_t next_update = 0;  // the first position from which the display may change
    ScanTotals totals;
};

// The progress, shown after each line from which the display may change,
// as reading line by line shows it: the line's end and the lines read.
void ShowProgress(Stage2& st, const Block& b, const Marks* m) {
    if (b.utf16 && !st.progress.utf16) {
        st.progress.utf16 = true;
        st.next_update = NextUpdateAt(st.progress, b.position);
    }
    const char* p = b.buffer.data();
    const std::uint64_t end_position = b.position + BytesIn(b);
    UnitCursor cursor;
    std::size_t from = b.begin;  // the lines before it are done
    std::uint64_t reads = st.totals.reads;  // lines read up to `from`
    while (st.next_update <= end_position) {
        // The first line that ends at or after next_update.
        std::size_t at = b.begin + static_cast<std::size_t>(st.next_update > b.position ? st.next_update - b.position - 1 : 0);
        at = std::max(at, from);
        const void* lf = at < b.end ? std::memchr(p + at, '\n', b.end - at) : nullptr;
        if (!lf) return;
        const std::size_t line_end = static_cast<std::size_t>(static_cast<const char*>(lf) - p) + 1;
        const bool last_virtual = b.virtual_lf && line_end == b.end;
        const std::uint64_t position = b.position + (line_end - b.begin) - (last_virtual ? 1 : 0);
        reads += m ? CountMarks(m->lf.data(), from, line_end)
                   : static_cast<std::uint64_t>(std::count(p + from, p + line_end, '\n'));
        UpdateProgress(st.progress, st.display, FileOffsetAt(b, line_end - (last_virtual ? 1 : 0), cursor), reads,
                       st.now);
        st.next_update = NextUpdateAt(st.progress, position);
        from = line_end;
    }
}

// The reference: every line handed to the scanner whole, nothing known of
// it in advance.
void ScanLineByLine(Stage2& st, const Block& b) {
    RunState& run = st.run;
    const char* p = b.buffer.data();
    UnitCursor cursor;
    std::uint32_t line = 0;
    for (std::size_t at = b.begin; at < b.end; ++line) {
        const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(std::memchr(p + at, '\n', b.end - at)) - p);
        run.export_line = st.totals.file_lines + 1 + line;
        run.line_offset = line == 0 && b.continues_cut ? b.cut_offset : FileOffsetAt(b, at, cursor);
        run.line_start = p + at;
        run.line_end = p + end;
        ProcessStream(run, std::string_view(p + at, end - at));
        run.line_start = nullptr;
        at = end + 1;
    }
}

// The block's lines in order: the structure walked from tag to tag, and
// where a string starts, the context rebuilt and the line scanned in full.
// The whole state is brought to the block's end, so the next block starts
// from it.
void WalkBlock(Stage2& st, const Slot& slot) {
    RunState& run = st.run;
    const Block& b = slot.block;
    const Marks& m = slot.marks;
    LinePlace place;
    place.export_line = st.totals.file_lines + 1;
    Walk& walk = st.walk;
    walk.s = run.scanner;
    const TagEntry* e = slot.index.entries.data();
    std::size_t from = b.begin;  // the state is whole here
    std::uint32_t from_line = 0;
    OccurrenceMark occurrence;
    // An empty string is in every data line, and where strings start on
    // most lines there is little to skip: every line is scanned in full
    // as it comes.
    const bool every_line = !run.matcher.empties.empty() ||
                            (slot.index.lines > 0 && CountMarks(m.match.data(), b.begin, b.end) >= slot.index.lines / 2);
    if (every_line) {
        for (std::uint32_t line = 0; from < b.end; ++line) {
            const std::size_t end = NextMark(m.lf.data(), from, b.end);
            ScanInFull(run, b, m, from, end, line, place);
            from = end + 1;
        }
        return;
    }
    // The walk's state is brought up to the whole state only where it walks.
    bool walk_behind = false;
    // The lines after a hit are scanned in full as long as they are awaited.
    auto lines_after = [&] {
        while (AwaitsLinesAfter(run) && from < b.end) {
            const std::size_t end = NextMark(m.lf.data(), from, b.end);
            ScanInFull(run, b, m, from, end, from_line, place);
            from = end + 1;
            ++from_line;
        }
        while (e->at < from) ++e;
        walk_behind = true;
    };
    lines_after();  // a hit near the end of the block before
    for (;;) {
        const std::size_t hit = NextMark(m.match.data(), from, b.end);
        if (hit >= b.end) break;
        const std::size_t lf_before = LastMark(m.lf.data(), from, hit);
        const std::size_t at = lf_before == hit ? from : lf_before + 1;
        const std::size_t end = NextMark(m.lf.data(), hit, b.end);
        const std::uint32_t line = from_line + static_cast<std::uint32_t>(CountMarks(m.lf.data(), from, at));
        if (at - from >= kWalkAtLeast) {
            if (walk_behind) walk.s = run.scanner;
            walk_behind = false;
            e = WalkLines(walk, b, m, e, at, occurrence);
        } else {
            while (e->at < at) ++e;
        }
        RebuildState(run, b, m, from, place.export_line + from_line, occurrence, at);
        ScanInFull(run, b, m, at, end, line, place);
        from = end + 1;
        from_line = line + 1;
        occurrence = {};
        lines_after();
    }
    if (from < b.end) {
        if (walk_behind) walk.s = run.scanner;
        WalkLines(walk, b, m, e, b.end, occurrence);
        RebuildState(run, b, m, from, place.export_line + from_line, occurrence, b.end);
    }
}

// Stage 2 of one block.
void FinishBlock(Stage2& st, const Slot& slot) {
    const Block& b = slot.block;
    std::uint64_t lines;
    if (st.line_by_line) {
        ScanLineByLine(st, b);
        lines = static_cast<std::uint64_t>(std::count(b.buffer.data() + b.begin, b.buffer.data() + b.end, '\n'));
    } else {
        WalkBlock(st, slot);
        lines = slot.index.lines;
    }
    ShowProgress(st, b, st.line_by_line ? nullptr : &slot.marks);
    st.totals.reads += lines;
    if (!b.piece) st.totals.file_lines += lines;
}

// Stops the threads of stage 1 and waits for them, however the scan ends.
struct Workers {
    Stage1& s1;
    std::vector<std::thread> threads;
    ~Workers() {
        {
            std::lock_guard<std::mutex> lock(s1.mutex);
            s1.quit = true;
        }
        s1.changed.notify_all();
        for (std::thread& t : threads) t.join();
    }
};

}  // namespace

ScanTotals ScanExport(RunState& run, ExportReader& reader, Progress& progress, Display& display, const Clock& now,
                      const ScanOptions& options) {
    const int threads = options.line_by_line ? 1 : std::max(1, options.threads);
    // A slot for each thread's block in stage 1, one for stage 2, and one
    // to spare so that no thread waits for the walk.
    Stage1 s1(reader, run.matcher, !options.line_by_line, static_cast<std::size_t>(threads) + (threads > 1 ? 2 : 0));
    Stage2 st{run, progress, display, now, options.line_by_line, {}, 0, {}};
    st.next_update = NextUpdateAt(progress, 0);
    Workers workers{s1, {}};
    for (int i = 1; i < threads; ++i) {
        try {
            workers.threads.emplace_back([&s1, seed = options.delay_seed ? options.delay_seed + static_cast<std::uint64_t>(i) : 0] {
                Delays delays = DelaysFrom(seed);
                while (TakeBlock(s1, Waits{true, true}, delays)) {
                }
            });
        } catch (const std::system_error&) {
            break;  // the threads there are do the work
        }
    }
    Delays delays = DelaysFrom(options.delay_seed);
    for (std::uint64_t number = 0;; ++number) {
        if (options.cancel && options.cancel->load(std::memory_order_relaxed)) {
            st.totals.interrupted = true;
            break;
        }
        Slot& slot = AwaitBlock(s1, number, delays);
        if (slot.failed) throw std::bad_alloc();
        if (!slot.has_block) break;
        FinishBlock(st, slot);
        {
            std::lock_guard<std::mutex> lock(s1.mutex);
            slot.state = Slot::State::Free;
        }
        s1.changed.notify_all();
    }
    return st.totals;
}
