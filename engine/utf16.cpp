// UTF-16 to UTF-8 as the export is read.
#include "utf16.h"

#include <algorithm>

namespace {

std::size_t PutUtf8(char* out, std::uint32_t c) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

constexpr std::uint32_t kReplacement = 0xFFFD;

bool IsHigh(std::uint32_t u) { return u >= 0xD800 && u < 0xDC00; }
bool IsLow(std::uint32_t u) { return u >= 0xDC00 && u < 0xE000; }

}  // namespace

std::size_t Utf16Bom(std::string_view first, bool& big_endian) {
    if (first.size() < 2) return 0;
    const auto a = static_cast<unsigned char>(first[0]), b = static_cast<unsigned char>(first[1]);
    if (a == 0xFF && b == 0xFE) {
        big_endian = false;
        return 2;
    }
    if (a == 0xFE && b == 0xFF) {
        big_endian = true;
        return 2;
    }
    return 0;
}

Encoding SniffEncoding(std::string_view first, bool all, std::size_t least_units) {
    Encoding e;
    if (first.size() < 2 && !all) return e;
    e.known = true;
    if ((e.mark = Utf16Bom(first, e.big_endian))) {
        e.utf16 = true;
        return e;
    }
    if (first.size() < kEncodingSample && !all) {
        e.known = false;
        return e;
    }
    // Zero bytes in the high byte of most units and never in the low one.
    const std::size_t units = std::min(first.size(), kEncodingSample) / 2;
    std::size_t zero_even = 0, zero_odd = 0;
    for (std::size_t i = 0; i < units; ++i) {
        zero_even += first[2 * i] == '\0';
        zero_odd += first[2 * i + 1] == '\0';
    }
    if (units >= least_units && units > 0 && (zero_even == 0) != (zero_odd == 0)) {
        const std::size_t zeros = zero_even + zero_odd;
        e.utf16 = 4 * zeros >= 3 * units;
        e.big_endian = zero_even > 0;
    }
    return e;
}

std::size_t DecodeUtf16(Utf16Decoder& d, char* dst, std::size_t n, bool last) {
    std::size_t out = 0;
    std::size_t i = d.raw_begin;
    const std::size_t size = d.raw.size();
    // Each unit writes at most 7 bytes: a replacement for a pending high
    // surrogate and the unit's own character.
    while (i + 2 <= size && out + 7 <= n) {
        std::uint32_t u = d.big_endian ? (std::uint32_t{d.raw[i]} << 8 | d.raw[i + 1])
                                       : (std::uint32_t{d.raw[i + 1]} << 8 | d.raw[i]);
        i += 2;
        if (d.high) {
            if (IsLow(u)) {
                out += PutUtf8(dst + out, 0x10000 + ((d.high - 0xD800) << 10) + (u - 0xDC00));
                d.high = 0;
                continue;
            }
            out += PutUtf8(dst + out, kReplacement);
            d.high = 0;
        }
        if (IsHigh(u)) {
            d.high = u;
        } else {
            out += PutUtf8(dst + out, IsLow(u) ? kReplacement : u);
        }
    }
    d.raw_begin = i;
    if (last && i + 2 > size && out + 7 <= n) {
        // The end of the export: nothing more can complete what waits.
        if (d.high) out += PutUtf8(dst + out, kReplacement);
        if (i < size) out += PutUtf8(dst + out, kReplacement);
        d.high = 0;
        d.raw_begin = size;
    }
    return out;
}

std::uint64_t Utf16Units(const char* p, std::size_t n) {
    std::uint64_t units = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(p[i]);
        units += (b & 0xC0) != 0x80;
        units += b >= 0xF0;
    }
    return units;
}
