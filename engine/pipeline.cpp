// The blocks through the two stages, on as many threads as there are.
#include "pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "around.h"
#include "cpu.h"
#include "reading.h"
#include "tag_index.h"

namespace {

// Where the next line that may hold a hit is closer than this, the lines
// before it are read in full rather than walked: there is little to skip.
constexpr std::size_t kWalkAtLeast = 512;

// A pause the tests may ask for, at a few points of stage 1.
void Pause(const Stage1Pause& pause) {
    if (pause) pause();
}

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

// Stage 1: what the threads share. Blocks are taken one at a time, in order
// (under `read_mutex`), into the slot of their number: read there, or in a
// file read at offsets only claimed, its bytes then read by the thread that
// took it beside the others. Each is marked and indexed by that thread.
struct Stage1 {
    Stage1(ExportReader& r, Matcher& m, std::size_t slot_count, const Stage1Pause& p)
        : reader(r), matcher(m), pause(p), slots(slot_count) {}
    ExportReader& reader;
    Matcher& matcher;  // tuned on the first block, then only read
    const Stage1Pause& pause;
    const bool mark_matches = !matcher.needle_text.empty();
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
    slot.marks.starts = 0;
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

bool TakeBlock(Stage1& s1, Waits waits) {
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
    Pause(s1.pause);
    bool got = false, failed = false;
    Claim claim;
    try {
        got = NextBlock(s1.reader, slot->block, &claim);
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
    Pause(s1.pause);
    if (got && !failed && claim.length) {
        // Read here, beside the threads that read the blocks after it.
        bool read = false;
        try {
            read = ReadClaimed(s1.reader, claim, slot->block);
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        if (!read && !failed) {
            // A read error: the export ends before this block, as it would
            // have read in turn.
            std::lock_guard<std::mutex> reader_lock(s1.read_mutex);
            std::lock_guard<std::mutex> lock(s1.mutex);
            s1.reader.read_error = true;
            s1.input_done = true;
            got = false;
        }
        Pause(s1.pause);
    }
    if (got && !failed) {
        try {
            IndexSlot(s1, *slot);
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        Pause(s1.pause);
    }
    {
        std::lock_guard<std::mutex> lock(s1.mutex);
        slot->state = Slot::State::Ready;
        slot->has_block = got && !failed;
        slot->failed = failed;
        if (failed) s1.input_done = true;  // nothing after it
    }
    s1.changed.notify_all();
    return true;
}

// The slot of block `number` once stage 1 is done with it, for stage 2.
// Meanwhile the thread of stage 2 reads and indexes blocks itself: that
// block when no other thread has taken it, else one after it while there
// is a free slot.
Slot& AwaitBlock(Stage1& s1, std::uint64_t number) {
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
        TakeBlock(s1, Waits{untaken, false});
    }
}

// Stage 2: the state that goes from block to block, in order.
struct Stage2 {
    RunState& run;
    Progress& progress;
    Display& display;
    const Clock& now;
    Findings* check;
    std::uint64_t next_update = 0;  // the first position from which the display may change
    ScanTotals totals;
};

// The progress, shown after each line from which the display may change,
// as reading line by line shows it: the line's end and the lines read.
void ShowProgress(Stage2& st, const Block& b, const Marks& m) {
    if (b.utf16 && !st.progress.utf16) {
        st.progress.utf16 = true;
        st.next_update = NextUpdateAt(st.progress, b.position);
    }
    const std::uint64_t end_position = b.position + BytesIn(b);
    UnitCursor cursor;
    std::size_t from = b.begin;  // the lines before it are done
    std::uint64_t reads = st.totals.reads;  // lines read up to `from`
    while (st.next_update <= end_position) {
        // The first line that ends at or after next_update.
        std::size_t at = b.begin + static_cast<std::size_t>(st.next_update > b.position ? st.next_update - b.position - 1 : 0);
        at = std::max(at, from);
        if (at >= b.end) return;
        const std::size_t line_end = NextMark(m.lf.data(), at, b.end) + 1;
        const bool last_virtual = b.virtual_lf && line_end == b.end;
        const std::uint64_t position = b.position + (line_end - b.begin) - (last_virtual ? 1 : 0);
        reads += CountMarks(m.lf.data(), from, line_end);
        UpdateProgress(st.progress, st.display, FileOffsetAt(b, line_end - (last_virtual ? 1 : 0), cursor), reads,
                       st.now);
        st.next_update = NextUpdateAt(st.progress, position);
        from = line_end;
    }
}

// What stage 2 does with a block.
enum class BlockPath {
    Walk,    // no string starts in it: the structure is walked to its end
    InFull,  // strings start on most of its lines, or an empty string is sought: every line is read in full
    Replay,  // strings start on some lines: walked between them, the state rebuilt where one starts
};

BlockPath ChoosePath(const RunState& run, const Slot& slot) {
    if (!run.query.matcher.empties.empty()) return BlockPath::InFull;
    const std::uint64_t starts = slot.marks.starts;
    if (starts == 0) return BlockPath::Walk;
    // Where strings start on most lines there is little to skip.
    return starts >= slot.index.lines / 2 ? BlockPath::InFull : BlockPath::Replay;
}

// The last "<OCC>" entry before `to`, at or after `from`, or null.
const TagEntry* LastOccurrenceTag(const TagEntry* from, const TagEntry* to) {
    while (to != from)
        if ((--to)->kind == TagKind::OccurrenceStart) return to;
    return nullptr;
}

// The block's lines in order: the structure walked from tag to tag, and
// where a string starts, the state rebuilt and the line read in full. The
// whole state is brought to the block's end, so the next block starts from
// it.
void Stage2Block(Stage2& st, const Slot& slot) {
    RunState& run = st.run;
    const Block& b = slot.block;
    const Marks& m = slot.marks;
    const BlockLines lines{b, m, slot.index.entries.data(), st.totals.file_lines + 1};
    run.place.block = &b;
    run.place.cursor = {};
    const TagEntry* e = lines.entries;
    const TagEntry* const sentinel = e + slot.index.count;
    std::size_t from = b.begin;  // the state is whole here
    std::uint64_t from_line = lines.export_line;
    // Brings the whole state from `from` to the line start `to`: from the
    // last occurrence that starts in between, else by reading every line.
    // None of the lines holds a hit. A line walked is read again only from
    // the occurrence's start on, where its context is needed.
    auto rebuild = [&](std::size_t to) {
        const std::uint64_t to_line = from_line + CountMarks(m.lf.data(), from, to);
        const TagEntry* stop = std::lower_bound(e, sentinel, to, [](const TagEntry& x, std::size_t at) { return x.at < at; });
        OccurrenceMark occurrence;
        if (const TagEntry* last = to - from >= kWalkAtLeast ? LastOccurrenceTag(e, stop) : nullptr) {
            // Walked on the state itself, which the occurrence's start sets
            // anew; kept for reading from `from` where none started.
            Structure& s = run.structure;
            const int level = s.next_level, row = s.selected_row;
            std::string& name = run.output.scratch;
            name = s.selected_level4;
            WalkLines(s, b.buffer.data(), e, NextMark(m.lf.data(), last->at, b.end) + 1, occurrence);
            if (!occurrence.set) {
                s.next_level = level;
                s.selected_row = row;
                s.selected_level4 = name;
            }
        }
        if (occurrence.set) {
            const std::size_t start = LastMark(m.lf.data(), from, occurrence.text);
            const std::size_t line_start = start == occurrence.text ? from : start + 1;
            StartOccurrence(run.structure, occurrence.row);
            ClearContext(run.context);
            const TagEntry* first = std::lower_bound(e, stop, line_start, [](const TagEntry& x, std::size_t at) { return x.at < at; });
            ReadInFull(run, lines, first, line_start, to, from_line + CountMarks(m.lf.data(), from, line_start),
                       occurrence.text);
        } else {
            ReadInFull(run, lines, e, from, to, from_line, from);
        }
        e = stop;
        from = to;
        from_line = to_line;
    };
    // The lines after a hit are read in full as long as they are awaited.
    auto lines_after = [&] {
        while (AwaitsLinesAfter(run) && from < b.end) {
            const std::size_t end = NextMark(m.lf.data(), from, b.end) + 1;
            e = ReadInFull(run, lines, e, from, end, from_line, from);
            from = end;
            ++from_line;
        }
    };
    switch (ChoosePath(run, slot)) {
    case BlockPath::InFull:
        ReadInFull(run, lines, e, b.begin, b.end, lines.export_line, b.begin);
        return;
    case BlockPath::Replay:
        lines_after();  // a hit near the end of the block before
        for (;;) {
            const std::size_t hit = NextMark(m.match.data(), from, b.end);
            if (hit >= b.end) break;
            const std::size_t lf_before = LastMark(m.lf.data(), from, hit);
            const std::size_t at = lf_before == hit ? from : lf_before + 1;
            rebuild(at);
            const std::size_t end = NextMark(m.lf.data(), at, b.end) + 1;
            e = ReadInFull(run, lines, e, at, end, from_line, at);
            from = end;
            ++from_line;
            lines_after();
        }
        break;
    case BlockPath::Walk:
        lines_after();
        break;
    }
    if (from < b.end) rebuild(b.end);
}

// Stage 2 of one block.
void FinishBlock(Stage2& st, const Slot& slot) {
    const Block& b = slot.block;
    if (st.check)
        CheckLines(st.run.structure, *st.check, b.buffer.data(), b.begin, slot.marks.lf.data(),
                   slot.index.entries.data(), st.totals.file_lines + 1);
    else
        Stage2Block(st, slot);
    ShowProgress(st, b, slot.marks);
    st.totals.reads += slot.index.lines;
    if (!b.piece) st.totals.file_lines += slot.index.lines;
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
    const int threads = std::max(1, options.threads);
    // A slot for each thread's block in stage 1, one for stage 2, and one
    // to spare so that no thread waits for the walk.
    Stage1 s1(reader, run.query.matcher, static_cast<std::size_t>(threads) + (threads > 1 ? 2 : 0), options.pause);
    Stage2 st{run, progress, display, now, options.check, 0, {}};
    st.next_update = NextUpdateAt(progress, 0);
    Workers workers{s1, {}};
    for (int i = 1; i < threads; ++i) {
        try {
            workers.threads.emplace_back([&s1] {
                while (TakeBlock(s1, Waits{true, true})) {
                }
            });
        } catch (const std::system_error&) {
            break;  // the threads there are do the work
        }
    }
    for (std::uint64_t number = 0;; ++number) {
        if (run.output.stop || (options.cancel && options.cancel->load(std::memory_order_relaxed))) {
            st.totals.interrupted = true;
            break;
        }
        Slot& slot = AwaitBlock(s1, number);
        if (slot.failed) throw std::bad_alloc();
        if (!slot.has_block) {
            if (options.check) CheckEnd(run.structure, *options.check, st.totals.file_lines);
            break;
        }
        FinishBlock(st, slot);
        {
            std::lock_guard<std::mutex> lock(s1.mutex);
            slot.state = Slot::State::Free;
        }
        s1.changed.notify_all();
    }
    return st.totals;
}
