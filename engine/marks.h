// Marks of a buffer's bytes, one bit a byte: what the reader finds once per
// block, and how the rest of the engine looks things up in them.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

// One bit a byte of the buffer: bit j of word i stands for byte 64 i + j.
// Bits past the bytes read are clear, and one clear word more follows them.
struct Marks {
    std::vector<std::uint64_t> lf;      // line feeds
    std::vector<std::uint64_t> tag;     // "<"
    std::vector<std::uint64_t> zero;    // zero bytes
    std::vector<std::uint64_t> filled;  // bytes other than blanks and line feeds
    // Where a search string starts, when the reader has a matcher: every
    // place in the buffer where one occurs whole.
    std::vector<std::uint64_t> match;
};

// The 64 marks from bit `at` on.
inline std::uint64_t MarksAt(const std::uint64_t* words, std::size_t at) {
    const std::size_t w = at >> 6, s = at & 63;
    return (words[w] >> s) | (words[w + 1] << 1 << (63 - s));  // no branch on s == 0
}

// The first marked bit in [from, to), or `to`.
inline std::size_t NextMark(const std::uint64_t* words, std::size_t from, std::size_t to) {
    while (from < to) {
        if (std::uint64_t bits = words[from >> 6] >> (from & 63)) {
            const std::size_t at = from + static_cast<std::size_t>(std::countr_zero(bits));
            return at < to ? at : to;
        }
        from = (from | 63) + 1;
    }
    return to;
}

// The last marked bit in [from, to), or `to`.
inline std::size_t LastMark(const std::uint64_t* words, std::size_t from, std::size_t to) {
    for (std::size_t up_to = to; up_to > from;) {
        const std::size_t last = up_to - 1;
        const std::uint64_t bits = words[last >> 6] << (63 - (last & 63));  // bits up to `last`, at the top
        if (bits) {
            const std::size_t at = last - static_cast<std::size_t>(std::countl_zero(bits));
            return at >= from ? at : to;
        }
        up_to = last & ~std::size_t{63};
    }
    return to;
}

inline bool AnyMark(const std::uint64_t* words, std::size_t from, std::size_t to) {
    return NextMark(words, from, to) < to;
}
