// Splits the export into lines: large reads into one reusable buffer, each
// block marked once, 64 bytes at a time, for line ends, "<", zero bytes and
// bytes other than blanks. A CR LF pair or a lone LF ends a line and is not
// part of it; every other byte, Ctrl-Z and zero bytes included, is data.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <cstring>
#include <string_view>
#include <vector>

#include "marks.h"
#include "matcher.h"
#include "search.h"
#include "test_hooks.h"
#include "utf16.h"

// Memory for the blocks read, aligned to a page: the kernel copies a read
// into a page-aligned buffer several times faster than into one that starts
// a few bytes into a page. It grows without being zeroed: every byte is read
// into before it is looked at.
struct BlockBuffer {
    struct Free {
        void operator()(char* p) const { ::operator delete(p, std::align_val_t{4096}); }
    };
    std::unique_ptr<char, Free> bytes;
    std::size_t length = 0, room = 0;

    char* data() { return bytes.get(); }
    const char* data() const { return bytes.get(); }
    std::size_t size() const { return length; }
    char* begin() { return bytes.get(); }
    // Keeps the bytes there are; throws std::bad_alloc when memory runs out.
    void resize(std::size_t n) {
        if (n > room) {
            std::unique_ptr<char, Free> grown(static_cast<char*>(::operator new(n, std::align_val_t{4096})));
            if (length) std::memcpy(grown.get(), bytes.get(), length);
            bytes = std::move(grown);
            room = n;
        }
        length = n;
    }
};

// Lines are kept whole up to this length; a longer one comes in pieces of it.
inline constexpr std::size_t kMaxLineLength = std::size_t{16} << 20;

// What a line may hold and still count as empty: trailing blanks are not
// part of a line's data, and a line of blanks alone is no line of data. The
// marks take the same bytes (space and tab to carriage return).
inline bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

struct ReadAhead;

// Work the reading thread may do on each block once it has read and marked
// it: `buffer[begin, end)` holds the block, `marks` its marks. It must return
// soon once `stop` is set, which happens when the lines reach the block.
// What it finds goes in `slot` (0 or 1); the reader's `block_slot` then names
// the slot that goes with the block in its buffer.
using AheadWork = std::function<void(const char* buffer, const Marks& marks, std::size_t begin, std::size_t end,
                                     int slot, const std::atomic<bool>& stop)>;

struct LineReader {
    std::FILE* file = nullptr;
    ReadBlock read_block;     // how bytes are read from `file`
    BlockBuffer buffer;
    std::uint64_t refills = 0;  // times the buffer's bytes were moved or added to
    std::size_t begin = 0;    // first byte not yet handed out
    std::size_t end = 0;      // one past the last byte read
    std::uint64_t position = 0;  // bytes of the export consumed so far
    std::uint64_t line_start = 0;  // where the line last handed out starts
    // Pieces of overlong lines that did not end their line: how many were
    // handed out, where the last ends and where the line it belongs to
    // starts (a position and, already turned, the file's offset).
    std::uint64_t cut_pieces = 0;
    std::uint64_t cut_begin = ~std::uint64_t{0};
    std::uint64_t cut_end = ~std::uint64_t{0};
    std::uint64_t cut_line_offset = 0;
    bool filled_last_read = false;  // the export has more than one block
    bool at_end = false;
    bool read_error = false;
    bool wide = false;  // blocks may be marked with 32-byte vectors
    Marks marks;        // of buffer[begin, end)
    Matcher* matcher = nullptr;  // when set, its strings are marked
    bool tuned = false;          // the matcher has seen the first block
    std::size_t longest = 0;     // its longest string
    // A second thread reads and marks the next block ahead, once the export
    // proves not to be UTF-16; `read_block` is then called on that thread.
    bool allow_read_ahead = false;
    std::shared_ptr<ReadAhead> read_ahead;
    AheadWork ahead_work;  // set before the first line is read
    bool hurry_ahead_work = true;  // stopped when the lines reach its block; else waited for (tests)
    int block_slot = -1;   // -1: no work was done on the block in the buffer
    std::uint64_t delay_seed = 0;  // tests: the reading thread is delayed at random (see TestHooks)
    // A UTF-16 export is converted as it is read: `position` and the buffer
    // count UTF-8 bytes, FileOffset turns them back into the file's.
    bool encoding_checked = false;
    bool utf16 = false;
    bool raw_at_end = false;  // the file itself is read to its end
    Utf16Decoder decoder;
    std::uint64_t unit_anchor = 0;  // a position whose code units are counted
    std::uint64_t units = 0;        // code units before unit_anchor
};

// Prepares a reader over an open file; an empty read_block means fread.
// With a matcher, the blocks are marked where its strings start; with
// `read_ahead`, the next block is read on a second thread where one starts.
void StartLineReader(LineReader& reader, std::FILE* file, ReadBlock read_block, Matcher* matcher = nullptr,
                     bool read_ahead = false);

// The next line, valid until the next call. False at the end of the export or
// after a read error (then `read_error` is set).
bool ReadLineSlowly(LineReader& reader, std::string_view& line);
inline bool ReadLine(LineReader& r, std::string_view& line) {
    // The common line: whole in the buffer and not overlong.
    const std::size_t lf = NextMark(r.marks.lf.data(), r.begin, r.end);
    std::size_t n = lf - r.begin;
    if (lf == r.end || n > kMaxLineLength) return ReadLineSlowly(r, line);
    const char* start = r.buffer.data() + r.begin;
#if defined(__GNUC__) || defined(__clang__)
    // The block was read on the other core: ask for the bytes ahead early.
    __builtin_prefetch(start + 1024);
#endif
    r.begin = lf + 1;
    r.line_start = r.position;
    r.position += n + 1;
    if (n > 0 && start[n - 1] == '\r') --n;
    line = std::string_view(start, n);
    return true;
}

// The export's own line that the line last handed out belongs to, when
// `reads` lines were handed out: the pieces of an overlong line are one line
// of the file.
inline std::uint64_t FileLineNumber(const LineReader& r, std::uint64_t reads) {
    return reads - r.cut_pieces + (r.cut_end == r.position);  // the last piece read not yet counted out
}

// Whether the line last handed out goes on a line an earlier piece began.
inline bool ContinuesCutLine(const LineReader& r) {
    return r.line_start > r.cut_begin && r.line_start <= r.cut_end;
}

// Stops the work on the block being read ahead, and waits for the reading
// thread: what the work uses may then go.
void StopReadingAhead(LineReader& reader);

// Where `pos` (a position of the lines handed out, at or after the start of
// the buffer) stands in the export file: the same number unless the export
// is converted from UTF-16.
std::uint64_t FileOffsetOfUtf16(LineReader& reader, std::uint64_t pos);
inline std::uint64_t FileOffset(LineReader& reader, std::uint64_t pos) {
    return reader.utf16 ? FileOffsetOfUtf16(reader, pos) : pos;
}

// Where `pos`, a position of the export from the reader's position on, stands
// in the buffer.
inline std::size_t BufferOffset(const LineReader& reader, std::uint64_t pos) {
    return reader.begin + static_cast<std::size_t>(pos - reader.position);
}

// The position of the first marked byte from the reader's position on, or
// the end of what the buffer holds.
inline std::uint64_t NextMarked(const LineReader& reader, const std::vector<std::uint64_t>& marks) {
    return reader.position + (NextMark(marks.data(), reader.begin, reader.end) - reader.begin);
}

// Consumes the whole lines in the buffer that end before `limit` (a position
// in the export), adding their number to `lines` and, unless `filled` is
// null, the number of those that hold more than blanks to `*filled`. For
// stretches of lines that can change nothing but counts.
void SkipLines(LineReader& reader, std::uint64_t limit, std::uint64_t& lines, std::int64_t* filled = nullptr);
