// Numbers, base64 and text without carriage returns, for every writer.
#include "text.h"

#include <cstring>

void AppendNumber(std::string& out, std::uint64_t value) { AppendPadded(out, value, 0); }

void AppendPadded(std::string& out, std::uint64_t value, int width) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    for (int pad = n; pad < width; ++pad) out.push_back(' ');
    while (n) out.push_back(digits[--n]);
}

void AppendBase64(std::string& out, std::string_view bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = std::uint32_t{p[i]} << 16 | std::uint32_t{p[i + 1]} << 8 | p[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) out.push_back(kDigits[(v >> shift) & 63]);
    }
    if (const std::size_t rest = bytes.size() - i) {
        std::uint32_t v = std::uint32_t{p[i]} << 16;
        if (rest == 2) v |= std::uint32_t{p[i + 1]} << 8;
        out.push_back(kDigits[v >> 18 & 63]);
        out.push_back(kDigits[v >> 12 & 63]);
        out.push_back(rest == 2 ? kDigits[v >> 6 & 63] : '=');
        out.push_back('=');
    }
}

void AppendWithoutCr(std::string& out, std::string_view text) {
    while (!text.empty()) {
        const void* cr = std::memchr(text.data(), '\r', text.size());
        if (!cr) {
            out.append(text);
            return;
        }
        const std::size_t n = static_cast<std::size_t>(static_cast<const char*>(cr) - text.data());
        out.append(text.substr(0, n));
        text.remove_prefix(n + 1);
    }
}
