// Small byte jobs the whole engine shares: letters a to z folded to upper
// case (one byte, or eight at a time), loads of unaligned words and
// comparisons of short texts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// Upper-cases a to z only; every other byte stays as it is.
inline constexpr std::array<unsigned char, 256> kFold = [] {
    std::array<unsigned char, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[i] = static_cast<unsigned char>(i >= 'a' && i <= 'z' ? i - 'a' + 'A' : i);
    return t;
}();

inline unsigned char Fold(char c) { return kFold[static_cast<unsigned char>(c)]; }

// Upper-cases the letters a to z of a word's bytes (eight or four) at once: a
// byte gets its high bit added at or above "a" and again above "z", and only
// for a to z do the two differ; bytes with the high bit set are left alone.
template <class Word>
inline Word FoldBytes(Word x) {
    constexpr Word ones = static_cast<Word>(0x0101010101010101), high = static_cast<Word>(0x8080808080808080);
    const Word low7 = x & ~high;
    const Word from_a = low7 + ones * (0x80 - 'a');
    const Word past_z = low7 + ones * (0x80 - 'z' - 1);
    return x - (((from_a ^ past_z) & ~x & high) >> 2);
}
inline std::uint64_t FoldWord(std::uint64_t x) { return FoldBytes(x); }

inline std::uint64_t Load8(const char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Whether two texts are equal, compared eight bytes at a time and then one
// at a time: a text FoldInto has just written is then read from the stores
// themselves (each load within one of them), which wider or shifted loads
// would have to wait for.
inline bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    std::size_t i = 0;
    for (; i + 8 <= a.size(); i += 8)
        if (Load8(a.data() + i) != Load8(b.data() + i)) return false;
    for (; i < a.size(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// Writes text upper-cased to dst, eight bytes at a time, then four, then
// one.
inline void FoldInto(char* dst, std::string_view text) {
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        const std::uint64_t v = FoldWord(Load8(text.data() + i));
        std::memcpy(dst + i, &v, sizeof v);
    }
    if (i + 4 <= text.size()) {
        std::uint32_t v;
        std::memcpy(&v, text.data() + i, sizeof v);
        v = FoldBytes(v);
        std::memcpy(dst + i, &v, sizeof v);
        i += 4;
    }
    for (; i < text.size(); ++i) dst[i] = static_cast<char>(Fold(text[i]));
}

// Whether the text at p is `upper` with letters compared as upper case,
// eight or four bytes at a time. The caller knows upper.size() bytes are
// readable there (they may run past the line: a line end never matches).
[[gnu::always_inline]] inline bool SameFolded(const char* p, std::string_view upper) {
    const std::size_t n = upper.size();
    if (n < 8) {
        if (n >= 4) {  // the first four bytes and the last four, which may overlap
            std::uint32_t a, b, c, d;
            std::memcpy(&a, p, 4);
            std::memcpy(&b, upper.data(), 4);
            std::memcpy(&c, p + n - 4, 4);
            std::memcpy(&d, upper.data() + n - 4, 4);
            return (a == b || FoldBytes(a) == b) && (c == d || FoldBytes(c) == d);  // tags mostly stand as written
        }
        std::size_t j = 0;
        while (j < n && Fold(p[j]) == static_cast<unsigned char>(upper[j])) ++j;
        return j == n;
    }
    for (std::size_t j = 0; j + 8 < n; j += 8) {
        const std::uint64_t x = Load8(p + j), u = Load8(upper.data() + j);
        if (x != u && FoldWord(x) != u) return false;
    }
    const std::uint64_t x = Load8(p + n - 8), u = Load8(upper.data() + n - 8);
    return x == u || FoldWord(x) == u;
}

// Blanks, as a line's end is trimmed of them: space, and tab to carriage
// return.
inline bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
