// Exports saved as UTF-16 (some Windows tools write them so, with a
// byte-order mark) are searched as UTF-8: converted as they are read, with
// positions still counted in the file's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// The state of one conversion: raw bytes read but not yet converted, and a
// high surrogate waiting for its partner.
struct Utf16Decoder {
    bool big_endian = false;
    std::vector<unsigned char> raw;  // unconverted bytes, from raw_begin
    std::size_t raw_begin = 0;
    std::uint32_t high = 0;          // a pending high surrogate, or 0
};

// The byte-order mark's length (2) when `first` starts with one, else 0;
// `big_endian` tells which.
std::size_t Utf16Bom(std::string_view first, bool& big_endian);

// What the first bytes of an export tell of its encoding: UTF-16 after a
// byte-order mark, or without one where a zero byte stands in every other
// place of them (an XML export starts with markup, which UTF-16 writes as a
// letter and a zero byte each); else bytes as they stand.
struct Encoding {
    bool known = false;  // false: more bytes are needed to tell
    bool utf16 = false;
    bool big_endian = false;
    std::size_t mark = 0;  // the byte-order mark's length
};
// The bytes looked at without a byte-order mark.
inline constexpr std::size_t kEncodingSample = 128;
// `first`: the export's first bytes; `all`: there are no more. Without a
// mark, at least `least_units` units must tell (a file of strings, where a
// zero byte has no other meaning, needs fewer than an export).
Encoding SniffEncoding(std::string_view first, bool all, std::size_t least_units = 8);

// Converts what `d.raw` holds into UTF-8 at dst, at most n bytes (n >= 8),
// keeping an odd byte or a high surrogate for the next call; at the end of
// the export (`last`) those become U+FFFD. Returns the bytes written.
std::size_t DecodeUtf16(Utf16Decoder& d, char* dst, std::size_t n, bool last);

// How many UTF-16 code units the UTF-8 bytes stand for, so that positions can
// be turned back into the file's: one for each character, two for those
// beyond U+FFFF (a lead byte of F0 and up).
std::uint64_t Utf16Units(const char* p, std::size_t n);
