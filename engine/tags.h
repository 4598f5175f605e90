// The export's tags: the eleven tables with their element prefixes and
// context maps, the occurrence's and the table's tags, and how a tag is told
// at a place of a line (letters compared as upper case, as the scanner reads
// the line).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "bytes.h"

struct TableRow {
    std::string_view level1;        // the table's tag
    std::string_view level3;        // its element prefix
    std::string_view context_map4;  // element name = context name, ...
};

inline constexpr std::array<TableRow, 11> kTables = {{
    {"<TABLE XMLNS:UXGROUP", "<UXGROUP:", "ULABEL=TABLENAME, UBASE=MODELNAME, UFORM=FORMNAME,"},
    {"<TABLE XMLNS:UFORM", "<UFORM:", "ULABEL=FORMNAME, UDESCR=FORMDESC,"},
    {"<TABLE XMLNS:UXFIELD", "<UXFIELD:", "ULABEL=FIELDNAME, GRP=TABLENAME, UBASE=MODELNAME, UFORM=FORMNAME,"},
    {"<TABLE XMLNS:UXREGS", "<UXREGS:", "U_FORMLIB=FORMNAME, U_NAME=FIELDNAME, UDESCR=FIELDDESC,"},
    {"<TABLE XMLNS:USOURCE", "<USOURCE:", "USUB=SOURCETYPE, UVAR=LIBRARYNAME, ULABEL=ENTRYNAME,"},
    {"<TABLE XMLNS:ULIBR", "<ULIBR:", "ULIBRARY=LIBRARYNAME,"},
    {"<TABLE XMLNS:UGREGS", "<UGREGS:", "U_FORMLIB=LIBRARYNAME, U_NAME=GLOBALNAME,"},
    {"<TABLE XMLNS:USMENU", "<USMENU:", "UMENU=MENUBARNAME, UVAR=LIBRARYNAME,"},
    {"<TABLE XMLNS:USITEM", "<USITEM:", "UMENU=MENUBARNAME, UVAR=LIBRARYNAME,"},
    {"<TABLE XMLNS:UGLYPH", "<UGLYPH:", "UCLABEL=GLYPHNAME, UCVAR=LIBRARYNAME,"},
    {"<TABLE XMLNS:UFORMAT", "<UFORMAT:", "XXX=XXX,"},
}};

// The order in which a line outside a table is tried for the tables' tags:
// UFORMAT before UFORM, whose tag is a prefix of the UFORMAT one. Where
// "<TABLE XMLNS:UFORMAT" stands, the UFORM tag stands too, and loses to it.
inline constexpr std::array<int, 11> kRowOrder = {0, 10, 1, 2, 3, 4, 5, 6, 7, 8, 9};
// The place of each row in that order.
inline constexpr std::array<int, 11> kRowRank = [] {
    std::array<int, 11> rank{};
    for (int i = 0; i < 11; ++i) rank[static_cast<std::size_t>(kRowOrder[static_cast<std::size_t>(i)])] = i;
    return rank;
}();

inline constexpr std::string_view end_level1 = "</TABLE>";
inline constexpr std::string_view level2 = "<OCC>";
inline constexpr std::string_view end_level2 = "</OCC>";
inline constexpr std::string_view kTableStart = "<TABLE XMLNS:";  // what every table's tag starts with

// Whether `tag` stands at p, which has `room` bytes.
[[gnu::always_inline]] inline bool TagAt(const char* p, std::size_t room, std::string_view tag) {
    return room >= tag.size() && SameFolded(p, tag);
}

// The bytes that end an element's name in its start tag, its ">" included.
inline constexpr std::array<bool, 256> kEndsName = [] {
    std::array<bool, 256> t{};
    for (unsigned char c : std::string_view(" \t\r\n\v\f/>")) t[c] = true;
    return t;
}();

// The length of the element name at the start of `text`: up to a blank, a
// "/" or a ">".
inline std::size_t NameLength(std::string_view text) {
    std::size_t i = 0;
#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
    typedef char Bytes __attribute__((vector_size(16)));  // as the builtin takes it
    for (; i + 16 <= text.size(); i += 16) {
        Bytes v;
        std::memcpy(&v, text.data() + i, sizeof v);
        // Bytes from 0x80 up compare as negative: none of them ends a name.
        const Bytes ends = (Bytes)((v == ' ') | (v == '/') | (v == '>') | ((v > 8) & (v < 14)));
        if (const int found = __builtin_ia32_pmovmskb128(ends)) return i + static_cast<std::size_t>(__builtin_ctz(found));
    }
#endif
    while (i < text.size() && !kEndsName[static_cast<unsigned char>(text[i])]) ++i;
    return i;
}

// The element prefixes without their "<", as words of their first eight
// bytes, and by the second and third of those bytes (a letter each, upper
// case): one table of each prefix, but UFORMAT shares UFORM's.
struct PrefixWord {
    std::uint64_t word = 0, mask = 0;
    std::size_t size = 0;
};
inline constexpr std::array<PrefixWord, 11> kPrefixWords = [] {
    std::array<PrefixWord, 11> t{};
    for (std::size_t row = 0; row < t.size(); ++row) {
        const std::string_view prefix = kTables[row].level3.substr(1);
        t[row].size = prefix.size();
        for (std::size_t i = 0; i < 8 && i < prefix.size(); ++i) {
            t[row].word |= std::uint64_t{static_cast<unsigned char>(prefix[i])} << (8 * i);  // the byte order of x86 and most others
            t[row].mask |= std::uint64_t{0xFF} << (8 * i);
        }
    }
    return t;
}();
inline constexpr std::size_t PrefixKey(unsigned char second, unsigned char third) {
    return (std::size_t{second} & 0x1F) << 5 | (third & 0x1F);
}
inline constexpr std::array<std::int8_t, 1024> kPrefixByLetters = [] {
    std::array<std::int8_t, 1024> t{};
    for (auto& r : t) r = -1;
    for (std::size_t row = 0; row < kTables.size(); ++row) {
        const std::string_view prefix = kTables[row].level3;  // "<" first
        std::int8_t& slot = t[PrefixKey(static_cast<unsigned char>(prefix[2]), static_cast<unsigned char>(prefix[3]))];
        if (slot < 0 || row == 10) slot = static_cast<std::int8_t>(row);  // UFORMAT before UFORM
    }
    return t;
}();

// The table whose element prefix, without its "<", starts at p (`room`
// bytes there, at least eight readable): "UXGROUP:" gives 0. -1 for none.
inline int PrefixRowAt(const char* p, std::size_t room) {
    if (std::endian::native != std::endian::little) {
        for (int row = 0; row < static_cast<int>(kTables.size()); ++row)
            if (TagAt(p, room, kTables[static_cast<std::size_t>(row)].level3.substr(1))) return row;
        return -1;
    }
    const std::uint64_t x = FoldWord(Load8(p));
    int row = kPrefixByLetters[PrefixKey(static_cast<unsigned char>(x >> 8), static_cast<unsigned char>(x >> 16))];
    if (row < 0) return -1;
    auto fits = [&](int r) {
        const PrefixWord& w = kPrefixWords[static_cast<std::size_t>(r)];
        return room >= w.size && (x & w.mask) == w.word;
    };
    if (fits(row)) return row;
    return row == 10 && fits(1) ? 1 : -1;
}

// The table whose tag starts at p ("<" there), `room` bytes on: the UFORMAT
// table's rather than the UFORM table's where both fit. -1 for none.
int TableTagRowAt(const char* p, std::size_t room);
