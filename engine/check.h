// What the reading rules cannot see in an export, found by the same machine
// that reads it: text holding a tag that goes unread, elements taken for
// context elements by a part of a name, an element that never ends.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "levels.h"

enum class Finding {
    UnreadTag,      // the rest of a line holding a tag goes unread
    ContextByPart,  // an element taken for a context element by a part of a name
    NeverClosed,    // an element open to the end of the export
};
inline constexpr std::size_t kFindings = 3;

// A place in the export, and what happens there.
struct FoundPlace {
    std::uint64_t export_line = 0;
    std::string what;
};

struct Findings {
    std::array<std::uint64_t, kFindings> count{};
    std::array<std::vector<FoundPlace>, kFindings> first;  // the first places of each, up to kFirstPlaces
    std::uint64_t Total() const { return count[0] + count[1] + count[2]; }
    // The element opened last, as its name stands; the one open where the
    // lines read so far end, its start tag and line.
    std::string open_name;
    std::string open_tag;
    std::uint64_t open_line = 0;
};
inline constexpr std::size_t kFirstPlaces = 10;

// Follows the lines of a block that hold tags, from `e`, noting what the
// rules cannot see; `export_line` is the export's line of buffer[begin].
void CheckLines(Structure& s, Findings& found, const char* base, std::size_t begin, const std::uint64_t* lf,
                const TagEntry* e, std::uint64_t export_line);

// At the export's end (`lines` in all): an element still open never ended.
void CheckEnd(const Structure& s, Findings& found, std::uint64_t lines);
