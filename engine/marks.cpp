// Marking a block: 64 bytes at a time, with 16- or 32-byte vectors.
#include "marks.h"

#include <cstring>
#include <string_view>

#include "cpu.h"

namespace {

// The marks of 64 bytes.
struct Chunk {
    std::uint64_t lf = 0;
    std::uint64_t tag = 0;
    std::uint64_t zero = 0;
    std::uint64_t candidate = 0;
};

// A "<" is a candidate when the byte after it may begin a tag the structure
// knows: "/", or the first letter of TABLE, OCC or an element prefix (all
// U), in either case.

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
inline Chunk Classify(const char* p) {
    typedef char Bytes __attribute__((vector_size(16)));  // as the builtin takes it
    Chunk c;
    for (int k = 0; k < 4; ++k) {
        Bytes v;
        std::memcpy(&v, p + 16 * k, sizeof v);
        const int shift = 16 * k;
        Bytes next;  // each byte's follower
        std::memcpy(&next, p + 16 * k + 1, sizeof next);
        const Bytes lower = next | 0x20;
        const Bytes lt = (Bytes)(v == '<');
        c.lf |= static_cast<std::uint64_t>(__builtin_ia32_pmovmskb128((Bytes)(v == '\n'))) << shift;
        c.tag |= static_cast<std::uint64_t>(__builtin_ia32_pmovmskb128(lt)) << shift;
        c.zero |= static_cast<std::uint64_t>(__builtin_ia32_pmovmskb128((Bytes)(v == 0))) << shift;
        c.candidate |= static_cast<std::uint64_t>(__builtin_ia32_pmovmskb128(
                           (Bytes)(lt & ((next == '/') | (lower == 't') | (lower == 'o') | (lower == 'u')))))
                       << shift;
    }
    return c;
}
#else
inline bool MayOpenTag(char next) {
    const char c = static_cast<char>(next | 0x20);
    return next == '/' || c == 't' || c == 'o' || c == 'u';
}

inline Chunk Classify(const char* p) {
    Chunk c;
    for (int i = 0; i < 64; ++i) {
        const std::uint64_t bit = std::uint64_t{1} << i;
        if (p[i] == '\n') c.lf |= bit;
        if (p[i] == '<') c.tag |= bit;
        if (p[i] == '\0') c.zero |= bit;
        if (p[i] == '<' && MayOpenTag(p[i + 1])) c.candidate |= bit;
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
        const int shift = 32 * k;
        Bytes32 next;
        std::memcpy(&next, p + 32 * k + 1, sizeof next);
        const Bytes32 lower = next | 0x20;
        const Bytes32 lt = (Bytes32)(v == '<');
        c.lf |= Bits32((Bytes32)(v == '\n')) << shift;
        c.tag |= Bits32(lt) << shift;
        c.zero |= Bits32((Bytes32)(v == 0)) << shift;
        c.candidate |= Bits32((Bytes32)(lt & ((next == '/') | (lower == 't') | (lower == 'o') | (lower == 'u')))) << shift;
    }
    return c;
}
#endif

// Marks p[from, to), the first and last 64 bytes copied aside and padded
// with blanks where they reach past the bytes to mark.
template <Chunk (*Classify)(const char*)>
[[gnu::always_inline]] inline void MarkWith(const char* p, std::size_t from, std::size_t to, Marks& m) {
    for (std::size_t at = from & ~std::size_t{63}; at < to; at += 64) {
        Chunk c;
        if (at >= from && at + 64 <= to) {
            c = Classify(p + at);
        } else {
            char edge[65];  // and the byte after, which a "<" is judged by
            std::memset(edge, ' ', sizeof edge);
            const std::size_t a = at < from ? from : at, b = at + 65 < to ? at + 65 : to;
            std::memcpy(edge + (a - at), p + a, b - a);
            c = Classify(edge);
        }
        const std::size_t w = at >> 6;
        m.lf[w] = c.lf;
        m.tag[w] = c.tag;
        m.zero[w] = c.zero;
        m.candidate[w] = c.candidate;
    }
}

#ifdef REPOSEARCH_X86
__attribute__((target("avx2"), flatten)) void MarkWide(const char* p, std::size_t from, std::size_t to, Marks& m) {
    MarkWith<ClassifyWide>(p, from, to, m);
}
#endif

}  // namespace

void SizeMarks(Marks& m, std::size_t size) {
    const std::size_t words = size / 64 + 3;
    if (m.lf.size() < words)
        for (auto* v : {&m.lf, &m.tag, &m.zero, &m.candidate, &m.match}) v->resize(words);
}

void MarkBytes(const char* p, std::size_t from, std::size_t to, Marks& m, bool wide) {
#ifdef REPOSEARCH_X86
    if (wide)
        MarkWide(p, from, to, m);
    else
#endif
        MarkWith<Classify>(p, from, to, m);
    (void)wide;
    const std::size_t first_clear = (to + 63) / 64;
    for (auto* v : {&m.lf, &m.tag, &m.zero, &m.candidate}) (*v)[first_clear] = (*v)[first_clear + 1] = 0;
}

namespace {

template <class Unused = void>
[[gnu::always_inline]] inline std::uint64_t CountWith(const std::uint64_t* words, std::size_t from, std::size_t to) {
    if (from >= to) return 0;
    std::size_t w = from >> 6;
    const std::size_t last = (to - 1) >> 6;
    std::uint64_t bits = words[w] & (~std::uint64_t{0} << (from & 63));
    std::uint64_t count = 0;
    for (; w < last; bits = words[++w]) count += static_cast<std::uint64_t>(std::popcount(bits));
    return count + static_cast<std::uint64_t>(std::popcount(bits & (~std::uint64_t{0} >> (63 - ((to - 1) & 63)))));
}

#ifdef REPOSEARCH_X86
__attribute__((target("popcnt"))) std::uint64_t CountWide(const std::uint64_t* words, std::size_t from, std::size_t to) {
    return CountWith(words, from, to);
}
#endif

}  // namespace

std::uint64_t CountMarks(const std::uint64_t* words, std::size_t from, std::size_t to) {
#ifdef REPOSEARCH_X86
    if (HasAvx2()) return CountWide(words, from, to);
#endif
    return CountWith(words, from, to);
}
