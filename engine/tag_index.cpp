// Building a block's tag index from its marks.
#include "tag_index.h"

#include <bit>

#include "cpu.h"
#include "tags.h"

namespace {

// What the "<" at p[0] is, `room` bytes to the end of the block's lines
// (the line it stands in ends within them). False for a "<" that cannot
// matter to the structure.
[[gnu::always_inline]] inline bool Classify(const char* p, std::size_t room, const char* base, TagEntry& e) {
    if (room < 5) return false;
    if (p[1] == '/') {
        switch (Fold(p[2])) {
        case 'T':
            e.kind = TagKind::TableEnd;
            return TagAt(p, room, end_level1);
        case 'O':
            e.kind = TagKind::OccurrenceEnd;
            return TagAt(p, room, end_level2);
        case 'U': {
            const int row = PrefixRowAt(p + 2, room - 2);
            if (row < 0) return false;
            // The name runs to the first ">" of the line; an end tag without
            // one ends no element.
            const char* q = p + 1 + kTables[static_cast<std::size_t>(row)].level3.size();
            q += NameLength(std::string_view(q, room - static_cast<std::size_t>(q - p)));  // mostly at the ">"
            while (*q != '>' && *q != '\n') ++q;
            if (*q != '>') return false;
            e.kind = TagKind::ElementEnd;
            e.row = static_cast<std::int8_t>(row);
            e.name_end = static_cast<std::uint32_t>(q - base);
            return true;
        }
        default: return false;
        }
    }
    switch (Fold(p[1])) {
    case 'T': {
        const int row = TableTagRowAt(p, room);
        e.kind = TagKind::TableStart;
        e.row = static_cast<std::int8_t>(row);
        return row >= 0;
    }
    case 'O':
        e.kind = TagKind::OccurrenceStart;
        return TagAt(p, room, level2);
    case 'U': {
        const int row = PrefixRowAt(p + 1, room - 1);
        if (row < 0) return false;
        const std::size_t prefix = kTables[static_cast<std::size_t>(row)].level3.size();
        const char* name = p + prefix;
        const char* name_end = name + NameLength(std::string_view(name, room - prefix));
        const char* close = name_end;
        while (*close != '>' && *close != '\n') ++close;
        e.kind = TagKind::ElementStart;
        e.row = static_cast<std::int8_t>(row);
        e.name_end = static_cast<std::uint32_t>(name_end - base);
        e.close = *close == '>' ? static_cast<std::uint32_t>(close - base) : kNoClose;
        e.closes_itself = *close == '>' && close > name && close[-1] == '/';
        return true;
    }
    default: return false;
    }
}

// Whether the end tag `end` (its "<" at `at`) ends the element that `start`,
// the entry before it on its line, opens: the next "<" after the start
// tag's ">" (no mark of `tags` between), with the prefix and the name just
// as the start tag has them.
[[gnu::always_inline]] inline bool Pairs(const char* p, const TagEntry& start, std::size_t at, const TagEntry& end,
                                         const std::uint64_t* tags) {
    if (start.kind != TagKind::ElementStart || start.row != end.row || start.close == kNoClose || at < start.close ||
        AnyMark(tags, start.close, at) || start.closes_itself)
        return false;
    const std::size_t n = start.name_end - start.at - 1;  // the prefix without its "<", and the name
    if (end.name_end - at - 2 != n) return false;
    const char* a = p + start.at + 1;
    const char* b = p + at + 2;
    if (n >= 8) {
        for (std::size_t j = 0; j + 8 < n; j += 8)
            if (Load8(a + j) != Load8(b + j)) return false;
        return Load8(a + n - 8) == Load8(b + n - 8);
    }
    for (std::size_t j = 0; j < n; ++j)
        if (a[j] != b[j]) return false;
    return true;
}

// Whether a line feed stands in [from, to): mostly both in one word.
[[gnu::always_inline]] inline bool LineFeedBetween(const Marks& m, std::size_t from, std::size_t to) {
    if (from >> 6 == to >> 6) return (m.lf[from >> 6] & ((std::uint64_t{1} << (to & 63)) - (std::uint64_t{1} << (from & 63)))) != 0;
    return AnyMark(m.lf.data(), from, to);
}

template <class Unused = void>
[[gnu::always_inline]] inline void IndexWith(const char* p, std::size_t begin, std::size_t end, const Marks& m,
                                             TagIndex& index) {
    // Room for an entry a "<" or zero byte, and the sentinel, written
    // without a check each.
    std::uint64_t most = 1;
    for (std::size_t w = begin >> 6, last = (end - 1) >> 6; w <= last; ++w)
        most += static_cast<std::uint64_t>(std::popcount(m.candidate[w] | m.zero[w]));
    if (index.entries.size() < most) index.entries.resize(static_cast<std::size_t>(most));
    TagEntry* out = index.entries.data();
    TagEntry* const first = out;
    std::uint32_t lines = 0;
    std::size_t previous = begin;  // the last entry's "<" (or zero byte)
    for (std::size_t w = begin >> 6, last = (end - 1) >> 6; w <= last; ++w) {
        // The word's bits from `begin` to `end` only.
        std::uint64_t keep = ~std::uint64_t{0};
        if (w == begin >> 6) keep &= ~std::uint64_t{0} << (begin & 63);
        if (w == last) keep &= ~std::uint64_t{0} >> (63 - ((end - 1) & 63));
        const std::uint64_t zero = m.zero[w] & keep;
        for (std::uint64_t bits = (m.candidate[w] | zero) & keep; bits; bits &= bits - 1) {
            const unsigned bit = static_cast<unsigned>(std::countr_zero(bits));
            const std::size_t at = (w << 6) + bit;
            const bool line_ended = out != first && LineFeedBetween(m, previous, at);
            // Built aside and stored whole: its flags are bits, which
            // set one by one would read the entry's memory first.
            TagEntry t{};
            if (zero >> bit & 1) {
                t.kind = TagKind::Zero;
            } else {
                t.close = kNoClose;
                if (!Classify(p + at, end - at, p, t)) continue;
            }
            if (line_ended) {
                out[-1].last_in_line = true;
            } else if (t.kind == TagKind::ElementEnd && out != first && Pairs(p, out[-1], at, t, m.tag.data())) {
                out[-1].paired = true;
            }
            t.at = static_cast<std::uint32_t>(at);
            *out++ = t;
            previous = at;
        }
        lines += static_cast<std::uint32_t>(std::popcount(m.lf[w] & keep));
    }
    if (out != first) out[-1].last_in_line = true;  // every line ends within the block
    index.lines = lines;
    index.count = static_cast<std::size_t>(out - first);
    TagEntry& sentinel = *out;
    sentinel = TagEntry{};
    sentinel.at = static_cast<std::uint32_t>(end);
    sentinel.kind = TagKind::End;
    sentinel.last_in_line = true;
}

#ifdef REPOSEARCH_X86
// With the processor's bit count instruction: a line number a "<".
__attribute__((target("popcnt"), flatten)) void IndexWide(const char* p, std::size_t begin, std::size_t end,
                                                               const Marks& m, TagIndex& index) {
    IndexWith(p, begin, end, m, index);
}
#endif

}  // namespace

void IndexBlock(const char* p, std::size_t begin, std::size_t end, const Marks& m, TagIndex& index) {
#ifdef REPOSEARCH_X86
    if (HasAvx2()) return IndexWide(p, begin, end, m, index);
#endif
    IndexWith(p, begin, end, m, index);
}
