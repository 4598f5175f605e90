// Finds which search strings occur in a data line, all strings in one pass.
// Letters a to z compare as upper case, as the line is read.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

struct SearchString;

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

// A multi-string search after Wu and Manber: a window as long as the shortest
// string slides over the text, skipping by the last byte pair it ends in, and
// only a pair that ends some string's prefix is compared in full.
struct Matcher {
    std::vector<SearchString*> needles;  // strings that can match, but empty ones
    std::vector<std::string_view> needle_text;  // their texts
    std::vector<SearchString*> empties;  // empty strings match every data line
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
    // Each string's place in the order given, for needles and empties.
    std::vector<std::uint32_t> needle_order, empty_order;
};

// What the lines tested found, kept by the one thread that tests them (the
// matcher itself is only read, by every thread, once built and tuned).
struct LineMatch {
    std::vector<std::uint64_t> seen;  // per needle: the line it last matched
    std::uint64_t line_serial = 0;
    // The strings the line last tested holds, in the order given.
    std::vector<const SearchString*> found;
    std::vector<std::pair<std::uint32_t, SearchString*>> found_by_order;  // scratch
};

// Builds the matcher over the list (throws std::bad_alloc when memory runs
// out); `word` asks for whole words only.
void BuildMatcher(Matcher& m, SearchString* head, bool word = false);

// Picks the probes by how often bytes occur in a sample of the export.
void TuneMatcher(Matcher& m, std::string_view sample);

// Adds 1 to the count of every string that occurs in the line and lists
// them in `lm.found`. Returns how many did.
int MatchLine(const Matcher& m, LineMatch& lm, std::string_view line);

// MatchLine when `marks` (one bit a byte, the line's first byte at bit `at`)
// mark every place where a needle starts: only those places are tested.
int MatchLineAt(const Matcher& m, LineMatch& lm, std::string_view line, const std::uint64_t* marks, std::size_t at);

// Whether the text from `start`, `length` bytes long, stands as a whole word
// of the line: no letter, digit or "_" right before or after it.
bool WholeWord(std::string_view line, std::size_t start, std::size_t length);

// Where the first occurrence of any needle starts in text[from..], or npos.
// Whole-word matching is not applied here: a place found is one to look at.
std::size_t FindAny(const Matcher& m, std::string_view text, std::size_t from);
