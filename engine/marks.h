// Marks of a buffer's bytes, one bit a byte: what is found once per block
// (line feeds, "<", zero bytes, where a search string starts), and how the
// rest of the engine looks things up in them.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

// One bit a byte of the buffer: bit j of word i stands for byte 64 i + j.
// Only the bits of the bytes marked mean anything; two clear words follow
// them.
struct Marks {
    std::vector<std::uint64_t> lf;     // line feeds
    std::vector<std::uint64_t> tag;    // "<"
    std::vector<std::uint64_t> zero;   // zero bytes
    std::vector<std::uint64_t> candidate;  // "<" that may open a tag the structure knows (its next byte tells)
    std::vector<std::uint64_t> match;  // where a search string starts (every place where one stands whole)
    std::uint64_t starts = 0;          // the marks of `match`
};

// Makes room for the marks of a buffer of `size` bytes.
void SizeMarks(Marks& m, std::size_t size);

// Marks p[from, to) for line feeds, "<" and zero bytes, 64 bytes at a time;
// `wide` when the processor has 32-byte vectors. Bytes before `from` in its
// word are marked as blanks, and the words after `to` are cleared.
void MarkBytes(const char* p, std::size_t from, std::size_t to, Marks& m, bool wide);

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

// How many bits are marked in [from, to).
std::uint64_t CountMarks(const std::uint64_t* words, std::size_t from, std::size_t to);
