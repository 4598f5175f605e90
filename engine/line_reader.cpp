// The export's line splitter.
#include "line_reader.h"

#include <cstring>

namespace {

// What a line may hold and still count as empty.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

constexpr std::size_t kBlockSize = std::size_t{1} << 20;
constexpr std::size_t kFirstBlockSize = std::size_t{64} << 10;

std::int64_t ReadWithFread(std::FILE* file, char* dst, std::size_t n) {
    std::size_t got = std::fread(dst, 1, n, file);
    if (got == 0 && std::ferror(file)) return -1;
    return static_cast<std::int64_t>(got);
}

// Reads more bytes after those not yet handed out, first moving them to the
// front and growing the buffer when a line fills it. False when nothing more
// could be read.
bool Refill(LineReader& r) {
    if (r.at_end || r.read_error) return false;
    if (r.begin > 0) {
        std::memmove(r.buffer.data(), r.buffer.data() + r.begin, r.end - r.begin);
        r.end -= r.begin;
        r.begin = 0;
    }
    // A small first block, so a small export costs little; the full block
    // once the export proves larger; more when one line fills it.
    if (r.buffer.size() < kBlockSize) {
        if (r.filled_last_read || r.end == r.buffer.size()) r.buffer.resize(kBlockSize);
    } else if (r.buffer.size() - r.end < kBlockSize / 2) {
        r.buffer.resize(r.buffer.size() * 2);
    }
    std::size_t wanted = r.buffer.size() - r.end;
    std::int64_t got = r.read_block(r.file, r.buffer.data() + r.end, wanted);
    r.filled_last_read = got == static_cast<std::int64_t>(wanted);
    if (got < 0) {
        r.read_error = true;
        return false;
    }
    if (got == 0) {
        r.at_end = true;
        return false;
    }
    r.end += static_cast<std::size_t>(got);
    return true;
}

}  // namespace

void StartLineReader(LineReader& reader, std::FILE* file, ReadBlock read_block) {
    reader = LineReader{};
    reader.file = file;
    reader.read_block = read_block ? std::move(read_block) : ReadBlock(ReadWithFread);
    reader.buffer.resize(kFirstBlockSize);
}

bool ReadLine(LineReader& r, std::string_view& line) {
    std::size_t scanned = 0;  // bytes after `begin` known to hold no line feed
    for (;;) {
        std::size_t avail = r.end - r.begin;
        // A whole line is at most kMaxLineLength bytes before its CR LF.
        std::size_t limit = avail < kMaxLineLength + 2 ? avail : kMaxLineLength + 2;
        const char* start = r.buffer.data() + r.begin;
        const void* lf = std::memchr(start + scanned, '\n', limit - scanned);
        if (lf) {
            std::size_t n = static_cast<const char*>(lf) - start;
            if (n <= kMaxLineLength || start[n - 1] == '\r') {
                r.begin += n + 1;
                r.line_start = r.position;
                r.position += n + 1;
                if (n > 0 && start[n - 1] == '\r') --n;
                line = std::string_view(start, n);
                return true;
            }
        }
        scanned = limit;
        bool overlong = lf || avail >= kMaxLineLength + 2;
        if (!overlong && Refill(r)) continue;
        if (avail == 0) return false;
        // An overlong line goes out in pieces; the last line may lack a line end.
        std::size_t n = overlong || avail > kMaxLineLength ? kMaxLineLength : avail;
        start = r.buffer.data() + r.begin;
        r.begin += n;
        r.line_start = r.position;
        r.position += n;
        line = std::string_view(start, n);
        return true;
    }
}

bool LineHolds(ByteStream& s, const LineReader& r, std::string_view line) {
    const std::uint64_t a = r.line_start;
    const std::uint64_t b = a + line.size();
    if (s.next >= a) {
        if (s.next != ByteStream::kNone) return s.next < b;
        if (s.scanned_to >= b) return false;
    }
    // Search from this line to the end of what the buffer holds.
    const char* from = line.data();
    const char* to = r.buffer.data() + r.end;
    const void* hit = std::memchr(from, s.byte, static_cast<std::size_t>(to - from));
    s.next = hit ? a + static_cast<std::uint64_t>(static_cast<const char*>(hit) - from) : ByteStream::kNone;
    s.scanned_to = a + static_cast<std::uint64_t>(to - from);
    return s.next < b;
}

std::uint64_t FreeUpTo(const ByteStream& s, const LineReader& r) {
    if (s.next == ByteStream::kNone) return s.scanned_to;
    return s.next >= r.position ? s.next : r.position;
}

void SkipLines(LineReader& r, std::uint64_t limit, std::uint64_t& lines, std::int64_t& filled) {
    if (limit <= r.position) return;
    std::size_t room = r.end - r.begin;
    if (limit - r.position < room) room = static_cast<std::size_t>(limit - r.position);
    const char* base = r.buffer.data() + r.begin;
    std::size_t line_start = 0;  // of the line being looked at, from base
    std::size_t i = 0;
#if defined(__GNUC__) || defined(__clang__)
    // Sixteen bytes at a time: where the line feeds are, and where bytes that
    // are more than blanks; a line counts as filled when one of those stands
    // between its start and its line feed.
    typedef unsigned char Bytes __attribute__((vector_size(16)));
    auto bits = [](Bytes v) {
        std::uint64_t half[2];
        std::memcpy(half, &v, sizeof half);
        auto pack = [](std::uint64_t h) {
            return static_cast<unsigned>(((h & 0x0101010101010101ull) * 0x0102040810204080ull) >> 56);
        };
        return pack(half[0]) | pack(half[1]) << 8;
    };
    bool content = false;  // since line_start, before this block
    for (; i + 16 <= room; i += 16) {
        Bytes v;
        std::memcpy(&v, base + i, sizeof v);
        Bytes blank = (Bytes)((v == ' ') | ((v >= 9) & (v <= 13)));  // line feed included
        unsigned lf = bits((Bytes)(v == '\n'));
        unsigned text = ~bits(blank) & 0xFFFF;
        unsigned from = 0;  // first bit of this block in the current line
        while (lf) {
            unsigned at = static_cast<unsigned>(__builtin_ctz(lf));
            if (i + at - line_start > kMaxLineLength) goto done;  // ReadLine cuts it up
            unsigned mask = ((1u << at) - 1) & ~((1u << from) - 1);
            ++lines;
            filled += content || (text & mask);
            content = false;
            line_start = i + at + 1;
            from = at + 1;
            lf &= lf - 1;
        }
        content = content || (from < 16 && (text >> from));
    }
    i = line_start;
#endif
    for (const char* p = base + i; p < base + room;) {
        const void* hit = std::memchr(p, '\n', static_cast<std::size_t>(base + room - p));
        if (!hit) break;
        const char* e = static_cast<const char*>(hit);
        if (static_cast<std::size_t>(e - p) > kMaxLineLength) break;
        ++lines;
        const char* q = e;
        while (q > p && IsBlank(q[-1])) --q;
        filled += q > p;
        p = e + 1;
        line_start = static_cast<std::size_t>(p - base);
    }
#if defined(__GNUC__) || defined(__clang__)
done:
#endif
    r.begin += line_start;
    r.position += line_start;
}
