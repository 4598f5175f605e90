// The export's line splitter.
#include "line_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <system_error>

#include "cpu.h"
#include "worker.h"

namespace {

constexpr std::size_t kBlockSize = std::size_t{1} << 20;
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
typedef char Bytes32 __attribute__((vector_size(32)));  // as the builtin takes it

__attribute__((target("avx2"), always_inline)) inline std::uint64_t Bits32(Bytes32 b) {
    return std::uint64_t{static_cast<std::uint32_t>(__builtin_ia32_pmovmskb256(b))};
}

__attribute__((target("avx2"))) inline Chunk ClassifyWide(const char* p) {
    Chunk c;
    for (int k = 0; k < 2; ++k) {
        Bytes32 v;
        std::memcpy(&v, p + 32 * k, sizeof v);
        Bytes32 blank = (Bytes32)((v == ' ') | ((v > 8) & (v < 14)));
        const int shift = 32 * k;
        c.lf |= Bits32((Bytes32)(v == '\n')) << shift;
        c.tag |= Bits32((Bytes32)(v == '<')) << shift;
        c.zero |= Bits32((Bytes32)(v == 0)) << shift;
        c.filled |= Bits32(~blank) << shift;
    }
    return c;
}
#endif

// Marks p[from, to) (from a multiple of 64), the last bytes padded with
// blanks.
template <Chunk (*Classify)(const char*)>
[[gnu::always_inline]] inline void MarkWith(const char* p, std::size_t from, std::size_t to, Marks& m) {
    for (std::size_t at = from; at < to; at += 64) {
        Chunk c;
        if (at + 64 <= to) {
            c = Classify(p + at);
        } else {
            char tail[64];
            std::memset(tail, ' ', sizeof tail);
            std::memcpy(tail, p + at, to - at);
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
__attribute__((target("avx2"), flatten)) void MarkWide(const char* p, std::size_t from, std::size_t to, Marks& m) {
    MarkWith<ClassifyWide>(p, from, to, m);
}
#endif

void MarkRange(const char* p, std::size_t from, std::size_t to, Marks& m, bool wide) {
    from &= ~std::size_t{63};
#ifdef REPOSEARCH_X86
    if (wide) return MarkWide(p, from, to, m);
#endif
    (void)wide;
    MarkWith<Classify>(p, from, to, m);
}

// Makes room for the marks of a buffer of `size` bytes.
void SizeMarks(Marks& m, std::size_t size) {
    const std::size_t words = size / 64 + 2;
    if (m.lf.size() < words)
        for (auto* v : {&m.lf, &m.tag, &m.zero, &m.filled, &m.match}) v->resize(words);
}

// Clears the two words after the marks of bytes up to `end`.
void ClearMarksAfter(Marks& m, std::size_t end) {
    const std::size_t first_clear = (end + 63) / 64;
    for (auto* v : {&m.lf, &m.tag, &m.zero, &m.filled, &m.match}) (*v)[first_clear] = (*v)[first_clear + 1] = 0;
}

// Marks where the search strings start in p[from, to), taking the text up
// to `end` (at or after `to`) for the strings that run on past `to`.
void MarkMatches(const Matcher& matcher, const char* p, std::size_t from, std::size_t to, std::size_t end,
                 Marks& m) {
    std::uint64_t* words = m.match.data();
    for (std::size_t w = from >> 6; w < (to + 63) >> 6; ++w) words[w] = 0;
    const std::string_view text(p + from, end - from);
    for (std::size_t at = 0; (at = FindAny(matcher, text, at)) != std::string_view::npos && from + at < to; ++at)
        words[(from + at) >> 6] |= std::uint64_t{1} << ((from + at) & 63);
}

// Marks buffer[from, end), the bytes before it being marked already, and
// where the strings start from the first place where one may now end in the
// new bytes. So a long line that comes in many reads is marked once.
void Mark(LineReader& r, std::size_t from) {
    SizeMarks(r.marks, r.buffer.size());
    ClearMarksAfter(r.marks, r.end);
    MarkRange(r.buffer.data(), from, r.end, r.marks, r.wide);
    if (!r.matcher) return;
    if (!r.tuned && r.end > 0) {  // the first bytes read tell which are rare
        TuneMatcher(*r.matcher, std::string_view(r.buffer.data(), std::min(r.end, std::size_t{1} << 18)));
        r.tuned = true;
        r.longest = 0;
        for (std::string_view text : r.matcher->needle_text) r.longest = std::max(r.longest, text.size());
    }
    const std::size_t again = (from > r.longest ? from - r.longest : 0) & ~std::size_t{63};
    MarkMatches(*r.matcher, r.buffer.data(), again, r.end, r.end, r.marks);
}

}  // namespace

// The second thread: reads the next block, and marks it, while the lines of
// the one before are scanned. The block's bytes go after kFront bytes of
// room, where the line the block before ends in is put in front of them.
struct ReadAhead {
    static constexpr std::size_t kFront = std::size_t{32} << 10;
    BlockBuffer buffer;
    Marks marks;
    std::int64_t got = 0;
    bool out_of_memory = false;  // the block could not be read
    int slot = 0;                // where the work on this block keeps what it finds
    std::atomic<bool> stop{false};  // the lines have reached the block
    // As the first block, the first blocks read ahead are small, so that a
    // small export costs little; full ones once a read fills its block.
    std::size_t want = kFirstBlockSize / 2;
    std::size_t asked = 0;  // the size of the block read last
    Delays delays;          // tests: pauses at random points
    Worker worker;  // last: it ends before what it works on goes
};

namespace {

// Reads the next block into a.buffer after its room in front, and marks it.
void ReadBlockAhead(ReadAhead& a, std::FILE* file, const ReadBlock& read_block, const Matcher* matcher,
                    bool wide, const AheadWork& work) {
    a.got = 0;
    a.out_of_memory = false;
    try {
        MaybeDelay(a.delays);
        a.asked = a.want;
        const std::size_t size = ReadAhead::kFront + a.asked;
        if (a.buffer.size() < size) a.buffer.resize(size);
        SizeMarks(a.marks, a.buffer.size());
        a.got = read_block(file, a.buffer.data() + ReadAhead::kFront, a.asked);
        if (a.got == static_cast<std::int64_t>(a.asked)) a.want = kBlockSize;
        MaybeDelay(a.delays);
        if (a.got > 0) {
            const std::size_t end = ReadAhead::kFront + static_cast<std::size_t>(a.got);
            ClearMarksAfter(a.marks, end);
            MarkRange(a.buffer.data(), ReadAhead::kFront, end, a.marks, wide);
            if (matcher) MarkMatches(*matcher, a.buffer.data(), ReadAhead::kFront, end, end, a.marks);
            MaybeDelay(a.delays);
            if (work) work(a.buffer.data(), a.marks, ReadAhead::kFront, end, a.slot, a.stop);
            MaybeDelay(a.delays);
        }
    } catch (const std::bad_alloc&) {
        a.out_of_memory = true;  // the run ends on the main thread
    }
}

// Starts reading ahead once the export is known not to need converting; on
// one thread when a thread cannot start.
void StartReadAhead(LineReader& r) {
    if (!r.allow_read_ahead || r.read_ahead || r.utf16 || !r.encoding_checked || r.at_end || r.read_error) return;
    auto a = std::make_shared<ReadAhead>();
    a->delays = DelaysFrom(r.delay_seed);
    try {
        StartWorker(a->worker, [&a = *a, file = r.file, &read_block = r.read_block, matcher = r.matcher,
                                wide = r.wide, work = r.ahead_work] {
            ReadBlockAhead(a, file, read_block, matcher, wide, work);
        });
    } catch (const std::system_error&) {
        r.allow_read_ahead = false;
        return;
    }
    r.read_ahead = std::move(a);
    Post(r.read_ahead->worker);
}

// Refill with a block read ahead: the bytes not yet handed out are put in
// front of it, and it becomes the buffer.
bool RefillFromAhead(LineReader& r) {
    ReadAhead& a = *r.read_ahead;
    if (r.hurry_ahead_work) a.stop.store(true, std::memory_order_relaxed);
    Wait(a.worker);
    r.block_slot = -1;
    if (a.out_of_memory) throw std::bad_alloc();
    if (a.got < 0) {
        r.read_error = true;
        return false;
    }
    if (a.got == 0) {
        r.at_end = true;
        return false;
    }
    const std::size_t got = static_cast<std::size_t>(a.got), rest = r.end - r.begin;
    r.filled_last_read = got == a.asked;
    if (rest <= ReadAhead::kFront) {
        const std::size_t begin = ReadAhead::kFront - rest;
        if (rest > 0) std::memcpy(a.buffer.data() + begin, r.buffer.data() + r.begin, rest);
        std::swap(r.buffer, a.buffer);
        std::swap(r.marks, a.marks);
        r.block_slot = a.slot;
        r.begin = begin;
        r.end = ReadAhead::kFront + got;
        if (rest > 0) {
            MarkRange(r.buffer.data(), begin, ReadAhead::kFront, r.marks, r.wide);
            if (r.matcher) MarkMatches(*r.matcher, r.buffer.data(), begin, ReadAhead::kFront, r.end, r.marks);
        }
    } else {  // a long line: the block goes after it, in a buffer grown for it
        const bool moved = r.begin > 0;
        if (moved) std::memmove(r.buffer.data(), r.buffer.data() + r.begin, rest);
        r.begin = 0;
        std::size_t size = std::max(r.buffer.size(), kBlockSize);
        while (size - rest < got + kBlockSize / 2) size *= 2;
        r.buffer.resize(size);
        std::memcpy(r.buffer.data() + rest, a.buffer.data() + ReadAhead::kFront, got);
        r.end = rest + got;
        Mark(r, moved ? 0 : rest);
    }
    a.slot ^= 1;  // the next block's findings go to the other slot: this block's are being read
    a.stop.store(false, std::memory_order_relaxed);
    Post(a.worker);
    return true;
}

// Reads more bytes after those not yet handed out, first moving them to the
// front and growing the buffer when a line fills it. False when nothing more
// could be read.
bool Refill(LineReader& r) {
    if (r.at_end || r.read_error) return false;
    ++r.refills;  // what was found at an offset of the buffer holds no more
    if (r.read_ahead) return RefillFromAhead(r);
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
            StartReadAhead(r);
            return true;
        }
        // Else the byte-order mark alone was read: read on.
    }
}

}  // namespace

void StartLineReader(LineReader& reader, std::FILE* file, ReadBlock read_block, Matcher* matcher,
                     bool read_ahead) {
    reader = LineReader{};
    reader.file = file;
    reader.read_block = read_block ? std::move(read_block) : ReadBlock(ReadWithFread);
    if (matcher && !matcher->needles.empty()) reader.matcher = matcher;
    reader.allow_read_ahead = read_ahead;
    reader.buffer.resize(kFirstBlockSize);
    reader.wide = HasAvx2();
    Mark(reader, 0);
}

void StopReadingAhead(LineReader& r) {
    if (!r.read_ahead) return;
    r.read_ahead->stop.store(true, std::memory_order_relaxed);
    Wait(r.read_ahead->worker);
}

bool ReadLineSlowly(LineReader& r, std::string_view& line) {
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
        const bool cut = overlong || avail > kMaxLineLength;  // the line goes on after the piece
        std::size_t n = cut ? kMaxLineLength : avail;
        start = r.buffer.data() + r.begin;
        if (cut) {
            if (r.position != r.cut_end) {  // the line's first piece, still in the buffer
                r.cut_begin = r.position;
                r.cut_line_offset = FileOffset(r, r.position);
            }
            r.cut_end = r.position + n;
            ++r.cut_pieces;
        }
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

template <bool kFilled>
[[gnu::always_inline]] inline void CountLines(LineReader& r, std::size_t room, std::uint64_t& lines,
                                              std::int64_t& filled) {
    const std::uint64_t* const lf_marks = r.marks.lf.data();
    if (!kFilled && room + 64 <= kMaxLineLength) {
        // No line here can be overlong: the line ends are counted a word
        // at a time, up to the last of them.
        const std::size_t last = LastMark(lf_marks, r.begin, r.begin + room);
        if (last == r.begin + room) return;
        std::size_t w = r.begin >> 6;
        const std::size_t last_w = last >> 6;
        std::uint64_t count = 0;
        std::uint64_t bits = lf_marks[w] & (~std::uint64_t{0} << (r.begin & 63));
        for (; w < last_w; bits = lf_marks[++w]) count += static_cast<std::uint64_t>(std::popcount(bits));
        count += static_cast<std::uint64_t>(std::popcount(bits & (~std::uint64_t{0} >> (63 - (last & 63)))));
        lines += count;
        r.position += last + 1 - r.begin;
        r.begin = last + 1;
        return;
    }
    const char* const start = r.buffer.data() + r.begin;
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
        const std::uint64_t full = kFilled ? MarksAt(filled_marks, r.begin + base) : 0;
        if (room - base < 64) lf &= (std::uint64_t{1} << (room - base)) - 1;
        if (base + 64 - next_line > kMaxLineLength) {
            // A line here may be overlong, and ReadLine cuts those up: count
            // the lines before it one at a time, and stop.
            for (; lf; lf &= lf - 1) {
                const std::size_t e = base + static_cast<std::size_t>(std::countr_zero(lf));
                if (e - next_line > kMaxLineLength) break;
                ++line_count;
                if (kFilled) filled_count += std::any_of(start + next_line, start + e, [](char b) { return !IsBlank(b); });
                next_line = e + 1;
            }
            break;
        }
        // No branch on whether the 64 bytes end a line: about half do not,
        // and a guess wrong half the time costs more than the sums.
        if constexpr (kFilled) {
            const std::uint64_t other = ~lf;
            std::uint64_t sum = full + other;
            bool carry_out = sum < other;
            sum += carry;
            carry_out = carry_out || (carry && sum == 0);
            carry = carry_out;
            filled_count += std::popcount(sum & lf);
        }
        line_count += static_cast<std::uint64_t>(std::popcount(lf));
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
template <bool kFilled>
__attribute__((target("popcnt"), flatten)) void CountLinesWide(LineReader& r, std::size_t room,
                                                               std::uint64_t& lines, std::int64_t& filled) {
    CountLines<kFilled>(r, room, lines, filled);
}
#endif

}  // namespace

void SkipLines(LineReader& r, std::uint64_t limit, std::uint64_t& lines, std::int64_t* filled) {
    if (limit <= r.position) return;
    std::size_t room = r.end - r.begin;
    if (limit - r.position < room) room = static_cast<std::size_t>(limit - r.position);
    std::int64_t unused = 0;
#ifdef REPOSEARCH_X86
    if (r.wide)
        return filled ? CountLinesWide<true>(r, room, lines, *filled) : CountLinesWide<false>(r, room, lines, unused);
#endif
    filled ? CountLines<true>(r, room, lines, *filled) : CountLines<false>(r, room, lines, unused);
}
