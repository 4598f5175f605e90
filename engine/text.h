// Small text jobs every writer does the same way: numbers, base64 and the
// carriage returns export text is shown without.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The number in decimal.
void AppendNumber(std::string& out, std::uint64_t value);

// The number in decimal, right-aligned in `width` columns, wider when it must
// be ("%4lu" for a width of 4).
void AppendPadded(std::string& out, std::uint64_t value, int width);

// The bytes in base64, padded with "=".
void AppendBase64(std::string& out, std::string_view bytes);

// The text with its carriage returns dropped.
void AppendWithoutCr(std::string& out, std::string_view text);
