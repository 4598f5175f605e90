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
    const char* p = r.buffer.data() + r.begin;
    const char* stop = p + room;
    const char* start = p;
    while (const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(stop - p))) {
        const char* e = static_cast<const char*>(lf);
        if (static_cast<std::size_t>(e - p) > kMaxLineLength) break;  // ReadLine cuts it up
        ++lines;
        const char* q = e;
        while (q > p && IsBlank(q[-1])) --q;
        filled += q > p;
        p = e + 1;
    }
    std::size_t used = static_cast<std::size_t>(p - start);
    r.begin += used;
    r.position += used;
}
