// Finds which search strings occur in a data line, all strings in one pass.
// Letters a to z compare as upper case, as the line is read.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bytes.h"
#include "marks.h"

// A multi-string search after Wu and Manber: a window as long as the shortest
// string slides over the text, skipping by the last byte pair it ends in, and
// only a pair that ends some string's prefix is compared in full.
struct Matcher {
    std::vector<std::string> needle_text;  // the strings that can match, but empty ones
    std::vector<std::uint32_t> needle_order;  // each one's place in the order given
    std::vector<std::uint32_t> empties;    // the places of empty strings: they match every data line
    std::size_t window = 0;              // length of the shortest needle
    // How far the window may slide, by a hash of its last three bytes (its
    // last two when the window is two bytes), each with bit 0x20 set: that
    // folds letters and merges a few other bytes, which only makes a skip
    // shorter.
    std::vector<std::uint8_t> shift;
    // Needles by the folded pair that ends their first `window` bytes (or by
    // their first byte when the window is one byte), as offsets into `bucket`.
    std::vector<std::uint32_t> bucket_start;
    std::vector<std::uint32_t> bucket;
    // With few needles, each is first looked for by two of its rarest bytes,
    // tested sixteen places at a time; see FindAny.
    struct Probe {
        std::uint32_t needle;
        std::uint32_t first, second;  // offsets in the needle
        unsigned char a, b;           // the bytes there, with bit 0x20 set
    };
    std::vector<Probe> probes;
    std::size_t probe_reach = 0;  // largest probe offset
    bool probes_wide = false;     // tested thirty-two places at a time
    // With a few more needles, a place is first tested by three bytes of each
    // needle at once, those at `fingerprint_offset` (any byte fits past the
    // end of a shorter needle): each byte's low and high four bits look up
    // the set of needle groups whose byte there they fit, sixteen places at
    // a time; see FindAny. 0 when not used, else the places tested at once (16
    // or 32, as the processor allows).
    int fingerprint_width = 0;
    std::size_t fingerprint_offset = 0;
    std::array<std::array<unsigned char, 16>, 3> low_nibble{}, high_nibble{};
    std::array<std::vector<std::uint32_t>, 8> groups;  // needle indices by group
    // A string counts only where no letter, digit or "_" stands right before
    // or after it (grep's -w).
    bool word = false;
};

// What the lines tested found, kept by the one thread that tests them (the
// matcher itself is only read, by every thread, once built and tuned).
struct LineMatch {
    std::vector<std::uint64_t> seen;  // per needle: the line it last matched
    std::uint64_t line_serial = 0;
    // The strings the line last tested holds, by their places in the order
    // given, in that order.
    std::vector<std::uint32_t> found;
};

// Builds the matcher over the strings, in the order given (throws
// std::bad_alloc when memory runs out); `word` asks for whole words only.
void BuildMatcher(Matcher& m, const std::vector<std::string>& strings, bool word = false);

// Picks the probes by how often bytes occur in a sample of the export.
void TuneMatcher(Matcher& m, std::string_view sample);

// Marks where the matcher's strings start in p[from, to): every place where
// one stands whole.
void MarkMatches(const Matcher& m, const char* p, std::size_t from, std::size_t to, Marks& marks);

// Lists in `lm.found` the strings that occur in the line, whose places are
// marked in `starts` (one bit a byte, the line's first byte at bit `at`).
// Returns how many do.
int MatchLine(const Matcher& m, LineMatch& lm, std::string_view line, const std::uint64_t* starts, std::size_t at);

// The same for a line whose places are not marked (tests, tools).
int MatchLine(const Matcher& m, LineMatch& lm, std::string_view line);

// Whether the text from `start`, `length` bytes long, stands as a whole word
// of the line: no letter, digit or "_" right before or after it.
bool WholeWord(std::string_view line, std::size_t start, std::size_t length);

// Where the first occurrence of any needle starts in text[from..], or npos.
// Whole-word matching is not applied here: a place found is one to look at.
std::size_t FindAny(const Matcher& m, std::string_view text, std::size_t from);
