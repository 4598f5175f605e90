// The first stage of the search, on any thread, without state: each "<"
// of a block that can matter to the structure (a table's tag, "</TABLE>",
// "<OCC>", "</OCC>", an element's start or end tag) and each zero byte (which
// cuts its line), as a compact index ended by a sentinel. The line-feed
// marks tell which line an entry stands in.
#pragma once

#include <cstdint>
#include <vector>

#include "marks.h"

enum class TagKind : std::uint8_t {
    TableStart,       // a table's tag; `row` the table (UFORMAT's rather than UFORM's)
    TableEnd,         // "</TABLE>"
    OccurrenceStart,  // "<OCC>"
    OccurrenceEnd,    // "</OCC>"
    ElementStart,     // a table's element prefix; `row`, its name's end and the ">" after it
    ElementEnd,       // "</" and a table's element prefix; `row`, and the ">" its name runs to
    Zero,             // a zero byte: the scanner's line ends there
    End,              // the sentinel after the block's lines
};

inline constexpr std::uint32_t kNoClose = ~std::uint32_t{0};

struct TagEntry {
    std::uint32_t at;        // the "<" (or zero byte): an offset in the block's buffer; the sentinel's is the block's end
    std::uint32_t name_end;  // ElementStart: where the name ends; ElementEnd: its ">"
    std::uint32_t close;     // ElementStart: the ">" that ends the tag, kNoClose when the line has none
    TagKind kind;
    std::int8_t row;         // TableStart, Element*: the table
    bool last_in_line : 1;   // no entry follows it on its line
    // ElementStart: the next entry is its end tag, the line's next "<" after
    // the start tag, byte for byte as the start tag names it.
    bool paired : 1;
    // ElementStart: a "/" ends the tag before its ">". Known here, while the
    // text is in the cache, the walk need not read it.
    bool closes_itself : 1;
};

struct TagIndex {
    // In the order of the text, then the sentinel; the room beyond it is
    // kept for the next block.
    std::vector<TagEntry> entries;
    std::size_t count = 0;    // the entries before the sentinel
    std::uint32_t lines = 0;  // the block's lines (line feeds)
};

// Indexes the lines p[begin, end) (each ended by a line feed, end - begin
// below 4 GiB), whose marks are `m`.
void IndexBlock(const char* p, std::size_t begin, std::size_t end, const Marks& m, TagIndex& index);
