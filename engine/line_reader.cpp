// The export's line splitter.
#include "line_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "cpu.h"

namespace {

constexpr std::size_t kBlockSize = std::size_t{256} << 10;
constexpr std::size_t kFirstBlockSize = std::size_t{64} << 10;

std::int64_t ReadWithFread(std::FILE* file, char* dst, std::size_t n) {
    std::size_t got = std::fread(dst, 1, n, file);
    if (got == 0 && std::ferror(file)) return -1;
    return static_cast<std::int64_t>(got);
}

// Code units of the converted bytes from the anchor up to `pos`, which must
// still be in the buffer.
void AdvanceUnits(LineReader& r, std::uint64_t pos) {
    if (pos <= r.unit_anchor) return;
    const char* at = r.buffer.data() + r.begin - static_cast<std::size_t>(r.position - r.unit_anchor);
    r.units += Utf16Units(at, static_cast<std::size_t>(pos - r.unit_anchor));
    r.unit_anchor = pos;
}

// Reads raw bytes of a UTF-16 export and converts them into dst. `filled`
// tells whether the file gave all that was asked of it.
std::int64_t ReadDecoded(LineReader& r, char* dst, std::size_t n, bool& filled) {
    Utf16Decoder& d = r.decoder;
    filled = false;
    for (;;) {
        std::size_t out = DecodeUtf16(d, dst, n, r.raw_at_end);
        if (out > 0 || r.raw_at_end) return static_cast<std::int64_t>(out);
        d.raw.erase(d.raw.begin(), d.raw.begin() + static_cast<std::ptrdiff_t>(d.raw_begin));
        d.raw_begin = 0;
        // Two bytes of UTF-16 give at most three of UTF-8.
        const std::size_t chunk = n / 3 * 2 + 2, old = d.raw.size();
        d.raw.resize(old + chunk);
        std::int64_t got = r.read_block(r.file, reinterpret_cast<char*>(d.raw.data() + old), chunk);
        d.raw.resize(old + static_cast<std::size_t>(got > 0 ? got : 0));
        if (got < 0) return -1;
        if (got == 0) r.raw_at_end = true;
        filled = got == static_cast<std::int64_t>(chunk);
    }
}

// Once the first bytes are in: an export that starts with a UTF-16
// byte-order mark is converted from here on, the bytes after the mark first.
void CheckEncoding(LineReader& r) {
    if (r.encoding_checked || r.end < 2) return;
    r.encoding_checked = true;
    if (r.position != 0 || r.begin != 0) return;
    bool big_endian = false;
    std::size_t mark = Utf16Bom(std::string_view(r.buffer.data(), r.end), big_endian);
    if (!mark) return;
    r.utf16 = true;
    r.decoder.big_endian = big_endian;
    r.decoder.raw.assign(r.buffer.begin() + static_cast<std::ptrdiff_t>(mark),
                         r.buffer.begin() + static_cast<std::ptrdiff_t>(r.end));
    r.end = 0;
}

// The marks of 64 bytes.
struct Chunk {
    std::uint64_t lf = 0;
    std::uint64_t tag = 0;
    std::uint64_t zero = 0;
    std::uint64_t filled = 0;
};

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
inline Chunk Classify(const char* p) {
    typedef char Bytes __attribute__((vector_size(16)));  // as the builtin takes it
    Chunk c;
    for (int k = 0; k < 4; ++k) {
        Bytes v;
        std::memcpy(&v, p + 16 * k, sizeof v);
        Bytes blank = (Bytes)((v == ' ') | ((v > 8) & (v < 14)));  // tab, LF, VT, FF, CR
        const int shift = 16 * k;
        c.lf |= static_cast<std::uint64_t>(__builtin_ia32_pmovmskb128((Bytes)(v == '\n'))) << shift;
        c.tag |= static_cast<std::uint64_t>(__builtin_ia32_pmovmskb128((Bytes)(v == '<'))) << shift;
        c.zero |= static_cast<std::uint64_t>(__builtin_ia32_pmovmskb128((Bytes)(v == 0))) << shift;
        c.filled |= static_cast<std::uint64_t>(__builtin_ia32_pmovmskb128(~blank)) << shift;
    }
    return c;
}
#else
inline Chunk Classify(const char* p) {
    Chunk c;
    for (int i = 0; i < 64; ++i) {
        std::uint64_t bit = std::uint64_t{1} << i;
        if (p[i] == '\n') c.lf |= bit;
        else if (!IsBlank(p[i])) c.filled |= bit;
        if (p[i] == '<') c.tag |= bit;
        if (p[i] == '\0') c.zero |= bit;
    }
    return c;
}
#endif

#ifdef REPOSEARCH_X86
__attribute__((target("avx2"))) inline Chunk ClassifyWide(const char* p) {
    typedef char Bytes __attribute__((vector_size(32)));  // as the builtin takes it
    Chunk c;
    for (int k = 0; k < 2; ++k) {
        Bytes v;
        std::memcpy(&v, p + 32 * k, sizeof v);
        Bytes blank = (Bytes)((v == ' ') | ((v > 8) & (v < 14)));
        const int shift = 32 * k;
        auto mask = [](Bytes b) { return std::uint64_t{static_cast<std::uint32_t>(__builtin_ia32_pmovmskb256(b))}; };
        c.lf |= mask((Bytes)(v == '\n')) << shift;
        c.tag |= mask((Bytes)(v == '<')) << shift;
        c.zero |= mask((Bytes)(v == 0)) << shift;
        c.filled |= mask(~blank) << shift;
    }
    return c;
}
#endif

// Marks buffer[from, end) (from a multiple of 64), the last bytes padded
// with blanks.
template <Chunk (*Classify)(const char*)>
[[gnu::always_inline]] inline void MarkWith(LineReader& r, std::size_t from) {
    Marks& m = r.marks;
    const char* p = r.buffer.data();
    for (std::size_t at = from; at < r.end; at += 64) {
        Chunk c;
        if (at + 64 <= r.end) {
            c = Classify(p + at);
        } else {
            char tail[64];
            std::memset(tail, ' ', sizeof tail);
            std::memcpy(tail, p + at, r.end - at);
            c = Classify(tail);
        }
        const std::size_t w = at >> 6;
        m.lf[w] = c.lf;
        m.tag[w] = c.tag;
        m.zero[w] = c.zero;
        m.filled[w] = c.filled;
    }
}

#ifdef REPOSEARCH_X86
__attribute__((target("avx2"), flatten)) void MarkWide(LineReader& r, std::size_t from) {
    MarkWith<ClassifyWide>(r, from);
}
#endif

// Marks the bytes from `from` to the end of what was read; the words past
// them are cleared.
void Mark(LineReader& r, std::size_t from) {
    Marks& m = r.marks;
    const std::size_t words = r.buffer.size() / 64 + 2;
    if (m.lf.size() < words)
        for (auto* v : {&m.lf, &m.tag, &m.zero, &m.filled}) v->resize(words);
    from &= ~std::size_t{63};
    const std::size_t first_clear = (r.end + 63) / 64;
    for (auto* v : {&m.lf, &m.tag, &m.zero, &m.filled})
        std::fill(v->begin() + static_cast<std::ptrdiff_t>(first_clear), v->begin() + static_cast<std::ptrdiff_t>(std::min(words, first_clear + 2)), 0);
#ifdef REPOSEARCH_X86
    if (r.wide) return MarkWide(r, from);
#endif
    MarkWith<Classify>(r, from);
}

// Reads more bytes after those not yet handed out, first moving them to the
// front and growing the buffer when a line fills it. False when nothing more
// could be read.
bool Refill(LineReader& r) {
    if (r.at_end || r.read_error) return false;
    if (r.begin > 0) {
        if (r.utf16) AdvanceUnits(r, r.position);  // those bytes leave the buffer
        std::memmove(r.buffer.data(), r.buffer.data() + r.begin, r.end - r.begin);
        r.end -= r.begin;
        r.begin = 0;
        Mark(r, 0);  // they stay the last line when nothing more comes
    }
    std::size_t mark_from = r.end;  // the bytes before are marked
    for (;;) {
        // A small first block, so a small export costs little; the full block
        // once the export proves larger; more when one line fills it.
        if (r.buffer.size() < kBlockSize) {
            if (r.filled_last_read || r.end + 8 > r.buffer.size()) r.buffer.resize(kBlockSize);
        } else if (r.buffer.size() - r.end < kBlockSize / 2) {
            r.buffer.resize(r.buffer.size() * 2);
        }
        mark_from = std::min(mark_from, r.end);
        std::size_t wanted = r.buffer.size() - r.end;
        std::int64_t got;
        if (r.utf16) {
            got = ReadDecoded(r, r.buffer.data() + r.end, wanted, r.filled_last_read);
        } else {
            got = r.read_block(r.file, r.buffer.data() + r.end, wanted);
            r.filled_last_read = got == static_cast<std::int64_t>(wanted);
        }
        if (got < 0) {
            r.read_error = true;
            return false;
        }
        if (got == 0) {
            r.at_end = true;
            return false;
        }
        r.end += static_cast<std::size_t>(got);
        CheckEncoding(r);
        if (r.end > r.begin) {
            Mark(r, mark_from);
            return true;
        }
        // Else the byte-order mark alone was read: read on.
    }
}

}  // namespace

void StartLineReader(LineReader& reader, std::FILE* file, ReadBlock read_block) {
    reader = LineReader{};
    reader.file = file;
    reader.read_block = read_block ? std::move(read_block) : ReadBlock(ReadWithFread);
    reader.buffer.resize(kFirstBlockSize);
    reader.wide = HasAvx2();
    Mark(reader, 0);
}

bool ReadLine(LineReader& r, std::string_view& line) {
    std::size_t scanned = 0;  // bytes after `begin` known to hold no line feed
    for (;;) {
        std::size_t avail = r.end - r.begin;
        // A whole line is at most kMaxLineLength bytes before its CR LF.
        std::size_t limit = avail < kMaxLineLength + 2 ? avail : kMaxLineLength + 2;
        const char* start = r.buffer.data() + r.begin;
        const std::size_t at = NextMark(r.marks.lf.data(), r.begin + scanned, r.begin + limit) - r.begin;
        const bool lf = at < limit;
        if (lf) {
            std::size_t n = at;
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
        if (!overlong) {
            const bool was_utf16 = r.utf16;
            const bool more = Refill(r);
            // A byte-order mark seen: the buffer now holds other bytes.
            if (r.utf16 != was_utf16) scanned = 0;
            if (more || r.utf16 != was_utf16) continue;
        }
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

std::uint64_t FileOffsetOfUtf16(LineReader& r, std::uint64_t pos) {
    AdvanceUnits(r, pos);
    std::uint64_t units = r.units;
    if (pos < r.unit_anchor) {  // behind the anchor: count back
        const char* at = r.buffer.data() + r.begin - static_cast<std::size_t>(r.position - pos);
        units -= Utf16Units(at, static_cast<std::size_t>(r.unit_anchor - pos));
    }
    return 2 + 2 * units;
}

namespace {

[[gnu::always_inline]] inline void CountLines(LineReader& r, std::size_t room, std::uint64_t& lines,
                                              std::int64_t& filled) {
    const char* const start = r.buffer.data() + r.begin;
    const std::uint64_t* const lf_marks = r.marks.lf.data();
    const std::uint64_t* const filled_marks = r.marks.filled.data();
    std::size_t next_line = 0;  // offset one past the last line end counted
    std::uint64_t line_count = 0;
    std::int64_t filled_count = 0;
    // 64 bytes at a time. A line holds more than blanks when some such byte
    // comes after the previous line end: adding the bytes other than blanks
    // to the bytes other than line ends carries a 1 from such a byte across
    // the blanks after it into the line end, and only there. The carry goes
    // on into the next 64 bytes.
    bool carry = false;
    for (std::size_t base = 0; base < room; base += 64) {
        std::uint64_t lf = MarksAt(lf_marks, r.begin + base);
        const std::uint64_t full = MarksAt(filled_marks, r.begin + base);
        if (room - base < 64) lf &= (std::uint64_t{1} << (room - base)) - 1;
        if (base + 64 - next_line > kMaxLineLength) {
            // A line here may be overlong, and ReadLine cuts those up: count
            // the lines before it one at a time, and stop.
            for (; lf; lf &= lf - 1) {
                const std::size_t e = base + static_cast<std::size_t>(std::countr_zero(lf));
                if (e - next_line > kMaxLineLength) break;
                ++line_count;
                filled_count += std::any_of(start + next_line, start + e, [](char b) { return !IsBlank(b); });
                next_line = e + 1;
            }
            break;
        }
        // No branch on whether the 64 bytes end a line: about half do not,
        // and a guess wrong half the time costs more than the sums.
        const std::uint64_t other = ~lf;
        std::uint64_t sum = full + other;
        bool carry_out = sum < other;
        sum += carry;
        carry_out = carry_out || (carry && sum == 0);
        carry = carry_out;
        line_count += static_cast<std::uint64_t>(std::popcount(lf));
        filled_count += std::popcount(sum & lf);
        const std::size_t after_last = base + 64 - static_cast<std::size_t>(std::countl_zero(lf | 1));
        next_line = lf ? after_last : next_line;
    }
    lines += line_count;
    filled += filled_count;
    r.begin += next_line;
    r.position += next_line;
}

#ifdef REPOSEARCH_X86
// The same with the processor's bit count instruction.
__attribute__((target("popcnt"), flatten)) void CountLinesWide(LineReader& r, std::size_t room,
                                                               std::uint64_t& lines, std::int64_t& filled) {
    CountLines(r, room, lines, filled);
}
#endif

}  // namespace

void SkipLines(LineReader& r, std::uint64_t limit, std::uint64_t& lines, std::int64_t& filled) {
    if (limit <= r.position) return;
    std::size_t room = r.end - r.begin;
    if (limit - r.position < room) room = static_cast<std::size_t>(limit - r.position);
#ifdef REPOSEARCH_X86
    if (r.wide) return CountLinesWide(r, room, lines, filled);
#endif
    CountLines(r, room, lines, filled);
}
