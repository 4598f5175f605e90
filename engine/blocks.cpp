// Reading the export into blocks of whole lines.
#include "blocks.h"

#include <algorithm>

namespace {

// Room in front of a block's new bytes for the line the block before ends
// in, so that they are read to a page boundary.
constexpr std::size_t kFront = std::size_t{32} << 10;

std::int64_t ReadWithFread(std::FILE* file, char* dst, std::size_t n) {
    const std::size_t got = std::fread(dst, 1, n, file);
    if (got == 0 && std::ferror(file)) return -1;
    return static_cast<std::int64_t>(got);
}

// The next bytes of the export, read in turn.
std::int64_t ReadOn(ExportReader& r, char* dst, std::size_t n) {
    if (!r.read_at) return r.read_block(r.file, dst, n);
    const std::int64_t got = r.read_at(r.file, dst, n, r.file_offset);
    if (got > 0) r.file_offset += static_cast<std::uint64_t>(got);
    return got;
}

// Reads n bytes at `offset` whole, as short reads allow: false when fewer
// are there.
bool ReadWholeAt(const ExportReader& r, char* dst, std::size_t n, std::uint64_t offset) {
    for (std::size_t have = 0; have < n;) {
        const std::int64_t got = r.read_at(r.file, dst + have, n - have, offset + have);
        if (got <= 0) return false;
        have += static_cast<std::size_t>(got);
    }
    return true;
}

// Claims the next block of a file read at offsets when its last bytes hold
// a line feed: it ends there, the bytes carried over are dropped (the block
// reads them again). False when it must be read in turn: the first block,
// which tells the encoding, UTF-16, a long line, the export's end.
bool ClaimBlock(ExportReader& r, Block& b, Claim& claim) {
    if (!r.read_at || r.blocks == 0 || !r.checked || r.utf16 || r.in_cut || r.at_end || r.read_error) return false;
    char tail[kTailSize];
    const std::size_t want = r.sizes.rest, n = std::min({want, r.sizes.tail, kTailSize});
    if (!ReadWholeAt(r, tail, n, r.position + want - n)) return false;
    std::size_t lf = n;
    while (lf > 0 && tail[lf - 1] != '\n') --lf;
    if (lf == 0) return false;
    claim.offset = r.position;
    claim.length = want - n + lf;
    b.begin = kFront;
    b.end = kFront + claim.length;
    b.position = r.position;
    b.continues_cut = b.piece = b.virtual_lf = b.utf16 = false;
    b.cut_offset = b.units = b.mark = 0;
    r.position += claim.length;
    r.file_offset = r.position;
    r.carry_size = 0;
    ++r.blocks;
    return true;
}

// Reads raw bytes of a UTF-16 export and converts them into dst (n >= 8).
std::int64_t ReadDecoded(ExportReader& r, char* dst, std::size_t n) {
    Utf16Decoder& d = r.decoder;
    for (;;) {
        const std::size_t out = DecodeUtf16(d, dst, n, r.raw_at_end);
        if (out > 0 || r.raw_at_end) return static_cast<std::int64_t>(out);
        d.raw.erase(d.raw.begin(), d.raw.begin() + static_cast<std::ptrdiff_t>(d.raw_begin));
        d.raw_begin = 0;
        // Two bytes of UTF-16 give at most three of UTF-8.
        const std::size_t chunk = n / 3 * 2 + 2, old = d.raw.size();
        d.raw.resize(old + chunk);
        const std::int64_t got = ReadOn(r, reinterpret_cast<char*>(d.raw.data() + old), chunk);
        d.raw.resize(old + static_cast<std::size_t>(got > 0 ? got : 0));
        if (got < 0) return -1;
        if (got == 0) r.raw_at_end = true;
    }
}

// The file's offset of the reader's position.
std::uint64_t FileOffsetOfReader(const ExportReader& r) { return r.utf16 ? r.mark + 2 * r.units : r.position; }

// Whether a line of `length` bytes before its line feed (the last of them
// `last`) is kept whole: up to kMaxLineLength bytes of data and a CR.
bool KeptWhole(std::size_t length, char last) {
    return length <= kMaxLineLength || (length == kMaxLineLength + 1 && last == '\r');
}

}  // namespace

void StartExportReader(ExportReader& r, std::FILE* file, ReadBlock read_block) {
    r = ExportReader{};
    r.file = file;
    r.read_block = read_block ? std::move(read_block) : ReadBlock(ReadWithFread);
}

std::uint64_t FileOffsetAt(const Block& b, std::size_t at, UnitCursor& cursor) {
    if (!b.utf16) return b.position + (at - b.begin);
    if (cursor.at < b.begin || cursor.at > at) cursor = {b.begin, 0};
    cursor.units += Utf16Units(b.buffer.data() + cursor.at, at - cursor.at);
    cursor.at = at;
    return b.mark + 2 * (b.units + cursor.units);
}

bool NextBlock(ExportReader& r, Block& b, Claim* claim) {
    if (claim) {
        *claim = {};
        if (ClaimBlock(r, b, *claim)) return true;
    }
    // The bytes carried over go right before the new ones, which are read
    // to a page boundary.
    const std::size_t front = std::max(kFront, (r.carry_size + 4095) & ~std::size_t{4095});
    const std::size_t want = r.blocks == 0 ? r.sizes.first : r.sizes.rest;
    b.buffer.Reserve(front + want + kSlack + 1);
    const std::size_t begin = front - r.carry_size;
    if (r.carry_size) std::memcpy(b.buffer.data() + begin, r.carry.data(), r.carry_size);
    std::size_t data_end = front;
    char* p = b.buffer.data();

    enum { kLines, kPiece, kLastLine } kind;
    std::size_t end = 0;      // one past the lines (before a line feed put after them)
    std::size_t scanned = begin;  // the bytes before hold no line feed: a long line in short reads is looked at once
    for (;;) {
        // The encoding, from the first bytes, before any is handed out.
        if (!r.checked) {
            const Encoding e = SniffEncoding(std::string_view(p + begin, data_end - begin), r.at_end || r.read_error);
            r.checked = e.known;
            if (e.utf16) {
                r.utf16 = true;
                r.mark = e.mark;
                r.decoder.big_endian = e.big_endian;
                r.decoder.raw.assign(p + begin + e.mark, p + data_end);
                data_end = scanned = begin;
                r.raw_at_end = r.at_end;  // the file's end; the converted bytes end when the decoder's do
                r.at_end = false;
            }
        }
        const std::size_t size = data_end - begin;
        if (r.checked) {  // else read on until the encoding is known
            const void* lf = data_end > scanned ? std::memchr(p + scanned, '\n', data_end - scanned) : nullptr;
            scanned = data_end;
            if (lf) {
                const std::size_t first = static_cast<std::size_t>(static_cast<const char*>(lf) - p);
                if (!KeptWhole(first - begin, first > begin ? p[first - 1] : '\n')) {
                    kind = kPiece;
                } else {
                    kind = kLines;
                    std::size_t last = data_end - 1;
                    while (p[last] != '\n') --last;
                    end = last + 1;
                }
                break;
            }
            if (size >= kMaxLineLength + 2) {  // no line feed can keep it whole
                kind = kPiece;
                break;
            }
            if (r.at_end || r.read_error) {
                if (size == 0) {
                    r.carry_size = 0;
                    return false;
                }
                kind = size > kMaxLineLength ? kPiece : kLastLine;
                break;
            }
        }
        // Read on; a line longer than a block grows the buffer.
        b.buffer.Reserve(data_end + want + kSlack + 1, data_end);
        p = b.buffer.data();
        const std::int64_t got = r.utf16 ? ReadDecoded(r, p + data_end, want) : ReadOn(r, p + data_end, want);
        if (got < 0)
            r.read_error = true;
        else if (got == 0)
            r.at_end = true;
        else
            data_end += static_cast<std::size_t>(got);
    }

    b.begin = begin;
    b.position = r.position;
    b.continues_cut = r.in_cut;
    b.cut_offset = r.cut_offset;
    b.piece = kind == kPiece;
    b.virtual_lf = kind != kLines;
    b.utf16 = r.utf16;
    b.units = r.units;
    b.mark = r.mark;
    if (kind == kPiece) {
        end = begin + kMaxLineLength;
        if (!r.in_cut) b.cut_offset = FileOffsetOfReader(r);  // the line's first piece
        b.continues_cut = true;
        r.in_cut = true;
        r.cut_offset = b.cut_offset;
    } else if (kind == kLastLine) {
        end = data_end;
    }
    // No line feed before the first line's cut or end, and a carriage
    // return there: lines that end in it alone.
    if (r.blocks == 0 && kind != kLines && std::memchr(p + begin, '\r', end - begin)) r.lone_cr = true;
    // What follows the lines is carried over, before the line feed that
    // ends a piece or the last line takes its place.
    r.carry_size = data_end - end;
    if (r.carry_size) {
        r.carry.Reserve(r.carry_size);
        std::memcpy(r.carry.data(), p + end, r.carry_size);
    }
    if (b.virtual_lf) p[end++] = '\n';
    b.end = end;
    if (kind != kPiece) r.in_cut = false;
    r.position += BytesIn(b);
    if (r.utf16) r.units += Utf16Units(p + b.begin, BytesIn(b));
    ++r.blocks;
    return true;
}

bool ReadClaimed(const ExportReader& r, const Claim& claim, Block& b) {
    b.buffer.Reserve(b.end + kSlack + 1);
    char* p = b.buffer.data();
    return ReadWholeAt(r, p + b.begin, claim.length, claim.offset) && p[b.end - 1] == '\n';
}
