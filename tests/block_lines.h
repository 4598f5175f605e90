// The lines of an export as the search hands them to the scanner: every
// block read in turn, each line split at its line feed (a CR before a line
// feed dropped), with the export's position after it.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "blocks.h"

namespace testutil {

struct ReadLines {
    std::vector<std::string> lines;
    std::vector<std::uint64_t> positions;  // after each line
    std::vector<std::uint64_t> export_lines;  // the export's line each belongs to
    std::vector<std::uint64_t> offsets;    // where in the file the export's line starts
    bool read_error = false;
};

inline ReadLines ReadAllLines(std::FILE* file, ReadBlock read_block) {
    ExportReader reader;
    StartExportReader(reader, file, std::move(read_block));
    ReadLines out;
    Block b;
    std::uint64_t file_lines = 0;
    while (NextBlock(reader, b)) {
        const char* p = b.buffer.data();
        UnitCursor cursor;
        std::uint64_t line = 0;
        for (std::size_t at = b.begin; at < b.end; ++line) {
            const std::size_t lf = static_cast<std::size_t>(static_cast<const char*>(std::memchr(p + at, '\n', b.end - at)) - p);
            const bool virtual_lf = b.virtual_lf && lf + 1 == b.end;
            std::size_t n = lf - at;
            if (!virtual_lf && n > 0 && p[lf - 1] == '\r') --n;
            out.lines.emplace_back(p + at, n);
            out.positions.push_back(b.position + (lf + 1 - b.begin) - (virtual_lf ? 1 : 0));
            out.export_lines.push_back(file_lines + 1 + line);
            out.offsets.push_back(line == 0 && b.continues_cut ? b.cut_offset : FileOffsetAt(b, at, cursor));
            at = lf + 1;
        }
        if (!b.piece) file_lines += line;
    }
    out.read_error = reader.read_error;
    return out;
}

// Reads from memory, at most `step` bytes a read.
inline ReadBlock FromMemory(const std::string& bytes, std::size_t step, std::size_t& offset) {
    return [&bytes, step, &offset](std::FILE*, char* dst, std::size_t n) -> std::int64_t {
        const std::size_t take = std::min({n, step, bytes.size() - offset});
        std::memcpy(dst, bytes.data() + offset, take);
        offset += take;
        return static_cast<std::int64_t>(take);
    };
}

}  // namespace testutil
