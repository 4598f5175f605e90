// The export in blocks of whole lines: large reads into page-aligned
// buffers, the line that a read cuts carried over to the next block. A CR LF
// pair or a lone LF ends a line; every other byte, Ctrl-Z and zero bytes
// included, is data. An export that starts with a UTF-16 byte-order mark is
// converted to UTF-8 as it is read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "utf16.h"

// Reads up to n bytes of the export into dst: the count read, 0 at its end,
// -1 on a read error.
using ReadBlock = std::function<std::int64_t(std::FILE* file, char* dst, std::size_t n)>;
// Reads up to n bytes of the export from its byte `offset` on, as ReadBlock
// does; called by several threads at once.
using ReadAt = std::function<std::int64_t(std::FILE* file, char* dst, std::size_t n, std::uint64_t offset)>;

// Memory for the blocks read, aligned to a page: the kernel copies a read
// into a page-aligned buffer several times faster than into one that starts
// a few bytes into a page. It grows without being zeroed: every byte is read
// into before it is looked at.
struct BlockBuffer {
    struct Free {
        void operator()(char* p) const { ::operator delete(p, std::align_val_t{4096}); }
    };
    std::unique_ptr<char, Free> bytes;
    std::size_t room = 0;

    char* data() { return bytes.get(); }
    const char* data() const { return bytes.get(); }
    // Room for at least n bytes, keeping the first `keep`; throws
    // std::bad_alloc when memory runs out.
    void Reserve(std::size_t n, std::size_t keep = 0) {
        if (n <= room) return;
        const std::size_t size = (n + 4095) & ~std::size_t{4095};
        std::unique_ptr<char, Free> grown(static_cast<char*>(::operator new(size, std::align_val_t{4096})));
        if (keep) std::memcpy(grown.get(), bytes.get(), keep);
        bytes = std::move(grown);
        room = size;
    }
};

// Lines are kept whole up to this length; a longer one comes in pieces of it,
// each a line of its own to the scanner (and to the count of lines read),
// all of them one line of the export.
inline constexpr std::size_t kMaxLineLength = std::size_t{16} << 20;
// Bytes of the export a block takes at most, but for a line it goes on with.
// Half a megabyte keeps a run within 16 MiB with a block in each of its
// slots, at 1 to 2% of the speed of blocks twice as large.
inline constexpr std::size_t kBlockSize = std::size_t{512} << 10;
// The first block is small, so that a small export costs little.
inline constexpr std::size_t kFirstBlockSize = std::size_t{64} << 10;
// A block read at an offset ends at the last line feed of its last bytes
// that many: a longer last line is read in turn, as a stream is.
inline constexpr std::size_t kTailSize = 4096;
// Readable bytes after a block's lines, so that a tag may be compared
// in words without looking where the buffer ends (a line feed ends every
// line, and no tag holds one).
inline constexpr std::size_t kSlack = 64;

// Whole lines of the export, as one stage of the search takes them.
struct Block {
    BlockBuffer buffer;
    std::size_t begin = 0, end = 0;  // the lines: buffer[begin, end), each ended by a line feed
    // Where the block stands in the export.
    std::uint64_t position = 0;    // bytes before its lines (converted ones, for UTF-16)
    // Its first line goes on a line cut into pieces before it (or the block
    // is such a piece), which starts at `cut_offset` in the file.
    bool continues_cut = false;
    std::uint64_t cut_offset = 0;
    bool piece = false;       // one piece of a line too long to keep whole; the line goes on after it
    bool virtual_lf = false;  // its last line feed was put there: no byte of the export
    // UTF-16: the code units of the bytes before its lines, after the
    // byte-order mark's `mark` bytes (none in an export written without).
    bool utf16 = false;
    std::uint64_t units = 0;
    std::uint64_t mark = 0;
};

// The export's bytes the block stands for.
inline std::uint64_t BytesIn(const Block& b) { return b.end - b.begin - (b.virtual_lf ? 1 : 0); }

// Where the byte at buffer offset `at` of a block stands in the export file:
// the export's position, or for UTF-16 the file's byte (its mark and two
// bytes a code unit after the byte-order mark). `cursor` keeps the code units counted so far, for the
// offsets asked in order.
struct UnitCursor {
    std::size_t at = 0;
    std::uint64_t units = 0;
};
std::uint64_t FileOffsetAt(const Block& b, std::size_t at, UnitCursor& cursor);

// The sizes above, which tests make small.
struct BlockSizes {
    std::size_t first = kFirstBlockSize, rest = kBlockSize, tail = kTailSize;
};

// The source of blocks: one reader of one export, used by one thread at a
// time, in order.
struct ExportReader {
    std::FILE* file = nullptr;
    ReadBlock read_block;
    // Set for a file that may be read at any offset: then every read goes
    // through it, and a block may be claimed here and read by a thread of
    // its own (ReadClaimed), beside the others.
    ReadAt read_at;
    std::uint64_t file_offset = 0;  // where read_at reads on, in turn
    BlockSizes sizes;
    BlockBuffer carry;  // read and not yet handed out
    std::size_t carry_size = 0;
    std::uint64_t position = 0;
    bool in_cut = false;  // the carry goes on a line cut into pieces
    std::uint64_t cut_offset = 0;
    std::uint64_t blocks = 0;  // handed out so far
    bool at_end = false, read_error = false;
    // The encoding, known from the first bytes.
    bool checked = false, utf16 = false, raw_at_end = false;
    std::uint64_t mark = 0;  // the byte-order mark's bytes
    // The first lines end in a carriage return alone, which ends no line
    // here: the export reads as one long line.
    bool lone_cr = false;
    Utf16Decoder decoder;
    std::uint64_t units = 0;  // code units before `position`
};

// Prepares a reader over an open file; an empty read_block means fread.
void StartExportReader(ExportReader& r, std::FILE* file, ReadBlock read_block);

// A block whose place is known before its bytes are read.
struct Claim {
    std::uint64_t offset = 0;
    std::size_t length = 0;  // 0: none, the block was read in turn
};

// Reads the next block: false when the export has no more lines (then
// `read_error` tells whether a read error ended it). Throws std::bad_alloc
// when memory runs out. Given `claim`, a block of whole lines in the middle
// of a file read at offsets is only claimed: its lines are known from the
// last bytes it takes, and ReadClaimed reads them.
bool NextBlock(ExportReader& r, Block& b, Claim* claim = nullptr);

// Reads the bytes of a claimed block, which any thread may do while the
// reader goes on: false when they are not the lines claimed (a read error,
// or a file that changed under the run). Throws std::bad_alloc when memory
// runs out.
bool ReadClaimed(const ExportReader& r, const Claim& claim, Block& b);
