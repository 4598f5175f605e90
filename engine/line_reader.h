// Splits the export into lines: large reads into one reusable buffer, line
// ends found with memchr. A CR LF pair or a lone LF ends a line and is not
// part of it; every other byte, Ctrl-Z and zero bytes included, is data.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "search.h"
#include "utf16.h"

// Lines are kept whole up to this length; a longer one comes in pieces of it.
inline constexpr std::size_t kMaxLineLength = std::size_t{16} << 20;

struct LineReader {
    std::FILE* file = nullptr;
    ReadBlock read_block;     // how bytes are read from `file`
    std::vector<char> buffer;
    std::size_t begin = 0;    // first byte not yet handed out
    std::size_t end = 0;      // one past the last byte read
    std::uint64_t position = 0;  // bytes of the export consumed so far
    std::uint64_t line_start = 0;  // where the line last handed out starts
    bool filled_last_read = false;  // the export has more than one block
    bool at_end = false;
    bool read_error = false;
    bool wide = false;  // SkipLines may use 32-byte vectors
    // A UTF-16 export is converted as it is read: `position` and the buffer
    // count UTF-8 bytes, FileOffset turns them back into the file's.
    bool encoding_checked = false;
    bool utf16 = false;
    bool raw_at_end = false;  // the file itself is read to its end
    Utf16Decoder decoder;
    std::uint64_t unit_anchor = 0;  // a position whose code units are counted
    std::uint64_t units = 0;        // code units before unit_anchor
};

// Prepares a reader over an open file; an empty read_block means fread.
void StartLineReader(LineReader& reader, std::FILE* file, ReadBlock read_block);

// The next line, valid until the next call. False at the end of the export or
// after a read error (then `read_error` is set).
bool ReadLine(LineReader& reader, std::string_view& line);

// Where `pos` (a position of the lines handed out, at or after the start of
// the buffer) stands in the export file: the same number unless the export
// is converted from UTF-16.
std::uint64_t FileOffset(LineReader& reader, std::uint64_t pos);

// Consumes the whole lines in the buffer that end before `limit` (a position
// in the export), adding their number to `lines` and the number of those that
// hold more than blanks to `filled`. For stretches of lines that can change
// nothing but counts.
void SkipLines(LineReader& reader, std::uint64_t limit, std::uint64_t& lines, std::int64_t& filled);

// Tells whether one byte value occurs in the lines handed out, searching the
// buffer ahead once with memchr instead of every line on its own.
struct ByteStream {
    unsigned char byte = 0;
    std::uint64_t next = 0;        // where it next occurs, or kNone
    std::uint64_t scanned_to = 0;  // the buffer was searched up to here
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};
};

// Whether the stream's byte occurs in `line`, the line ReadLine just gave.
bool LineHolds(ByteStream& stream, const LineReader& reader, std::string_view line);

// How far the lines from the reader's position on are known to be free of
// the byte: its next occurrence, or the end of the buffer. Searches the
// buffer ahead again once the occurrence found last was consumed.
std::uint64_t FreeUpTo(ByteStream& stream, const LineReader& reader);
