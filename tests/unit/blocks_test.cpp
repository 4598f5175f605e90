// The export in blocks of whole lines: line ends, bytes that are data, long
// lines, reads of every size and read errors; the marks of a block.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "blocks.h"
#include "cpu.h"
#include "marks.h"
#include "test_util.h"

namespace {

// The lines the reader hands out, block after block, each split at its line
// feed (a CR before it dropped), with the export's position after it.
struct ReadLines {
    std::vector<std::string> lines;
    std::vector<std::uint64_t> positions;  // after each line
    std::vector<std::uint64_t> export_lines;  // the export's line each belongs to
    std::vector<std::uint64_t> offsets;    // where in the file the export's line starts
    bool read_error = false;
};

ReadLines ReadAllLines(std::FILE* file, ReadBlock read_block) {
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
ReadBlock FromMemory(const std::string& bytes, std::size_t step, std::size_t& offset) {
    return [&bytes, step, &offset](std::FILE*, char* dst, std::size_t n) -> std::int64_t {
        const std::size_t take = std::min({n, step, bytes.size() - offset});
        std::memcpy(dst, bytes.data() + offset, take);
        offset += take;
        return static_cast<std::int64_t>(take);
    };
}


ReadLines ReadAll(const std::string& bytes, std::size_t step = ~std::size_t{0}) {
    std::size_t offset = 0;
    return ReadAllLines(nullptr, FromMemory(bytes, step, offset));
}

using V = std::vector<std::string>;

TEST(Blocks, CrLfAndLoneLfEndLines) {
    const ReadLines r = ReadAll("a\r\nb\nc\r\r\n\r\n\nlast");
    EXPECT_EQ(r.lines, (V{"a", "b", "c\r", "", "", "last"}));
    EXPECT_EQ(r.positions, (std::vector<std::uint64_t>{3, 5, 9, 11, 12, 16}));
    EXPECT_FALSE(r.read_error);
}

TEST(Blocks, LoneCrCtrlZAndZeroBytesAreData) {
    const std::string bytes("a\rb\x1A" "c\0d\r\ne", 10);
    EXPECT_EQ(ReadAll(bytes).lines, (V{std::string("a\rb\x1A" "c\0d", 7), "e"}));
    EXPECT_EQ(ReadAll("").lines, V{});
    EXPECT_EQ(ReadAll("\r\n").lines, V{""});
}

TEST(Blocks, LongLinesStayWholeAcrossBlocks) {
    const std::string a(3 << 20, 'a'), b(5, 'b');
    const ReadLines r = ReadAll(a + "\r\n" + b + "\n" + a);
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[0], a);
    EXPECT_EQ(r.lines[1], b);
    EXPECT_EQ(r.lines[2], a);
    EXPECT_EQ(r.export_lines, (std::vector<std::uint64_t>{1, 2, 3}));
}

TEST(Blocks, OverlongLinesComeInPiecesOfOneLineOfTheExport) {
    const std::string huge(kMaxLineLength + 10, 'x');
    const ReadLines r = ReadAll("first\n" + huge + "\nnext\n");
    ASSERT_EQ(r.lines.size(), 4u);
    EXPECT_EQ(r.lines[1].size(), kMaxLineLength);
    EXPECT_EQ(r.lines[2], std::string(10, 'x'));
    EXPECT_EQ(r.lines[3], "next");
    // The pieces are one line of the export, which starts after "first\n".
    EXPECT_EQ(r.export_lines, (std::vector<std::uint64_t>{1, 2, 2, 3}));
    EXPECT_EQ(r.offsets, (std::vector<std::uint64_t>{0, 6, 6, 6 + huge.size() + 1}));
    // Exactly the longest whole line, CR LF included, is still one line.
    const ReadLines exact = ReadAll(std::string(kMaxLineLength, 'y') + "\r\n");
    ASSERT_EQ(exact.lines.size(), 1u);
    EXPECT_EQ(exact.lines[0].size(), kMaxLineLength);
    // An overlong last line without a line end.
    const ReadLines last = ReadAll(std::string(kMaxLineLength + 1, 'z'));
    ASSERT_EQ(last.lines.size(), 2u);
    EXPECT_EQ(last.lines[1], "z");
    EXPECT_EQ(last.positions.back(), kMaxLineLength + 1);
}

TEST(Blocks, ReadErrorEndsTheLinesAndIsReported) {
    int calls = 0;
    const ReadLines r = ReadAllLines(nullptr, [&](std::FILE*, char* dst, std::size_t) -> std::int64_t {
        if (calls++ > 0) return -1;
        std::memcpy(dst, "one\ntw", 6);
        return 6;
    });
    EXPECT_EQ(r.lines, (V{"one", "tw"}));
    EXPECT_TRUE(r.read_error);
}

// Reads of every size give the same lines, positions and line numbers as
// one read of the whole, across blocks and the lines carried between them.
TEST(Blocks, ReadsOfAnySizeGiveTheSameLines) {
    std::mt19937 rng(9);
    std::string text;
    while (text.size() < (3u << 20)) {
        const unsigned kind = rng() % 100;
        text += kind == 0 ? std::string(70000 + rng() % 200000, 'w') : std::string(rng() % 90, 'a' + static_cast<char>(rng() % 26));
        text += rng() % 5 ? "\r\n" : "\n";
    }
    text += "end";
    const ReadLines whole = ReadAll(text);
    for (std::size_t step : {1u, 7u, 4096u, 65537u, 1000000u}) {
        if (step == 1) {  // a byte a read: a smaller text will do
            const std::string small = text.substr(0, 300000) + "\nlast";
            const ReadLines a = ReadAll(small), b = ReadAll(small, 1);
            EXPECT_EQ(a.lines, b.lines);
            EXPECT_EQ(a.positions, b.positions);
            continue;
        }
        const ReadLines r = ReadAll(text, step);
        EXPECT_EQ(r.lines, whole.lines) << step;
        EXPECT_EQ(r.positions, whole.positions) << step;
        EXPECT_EQ(r.export_lines, whole.export_lines) << step;
    }
}

// The marks agree with the bytes, wherever the bytes to mark begin and end,
// with 16- and 32-byte vectors.
TEST(Marks, AgreeWithTheBytes) {
    std::mt19937 rng(5);
    const std::string alphabet("ab<\n\0 \r\t>/uOT", 13);
    std::string text(5000, ' ');
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    for (int round = 0; round < 200; ++round) {
        const std::size_t from = rng() % 3000, to = from + rng() % 2000;
        Marks m;
        SizeMarks(m, text.size() + 64);
        for (auto* v : {&m.lf, &m.tag, &m.zero}) std::fill(v->begin(), v->end(), ~std::uint64_t{0});  // stale marks
        MarkBytes(text.data(), from, to, m, HasAvx2() && round % 2 == 0);
        auto bit = [](const std::vector<std::uint64_t>& v, std::size_t i) { return (v[i / 64] >> (i % 64)) & 1; };
        for (std::size_t i = from & ~std::size_t{63}; i < ((to + 63) & ~std::size_t{63}) + 128; ++i) {
            const bool inside = i >= from && i < to;
            ASSERT_EQ(bit(m.lf, i), inside && text[i] == '\n') << round << " " << i;
            ASSERT_EQ(bit(m.tag, i), inside && text[i] == '<') << round << " " << i;
            ASSERT_EQ(bit(m.zero, i), inside && text[i] == '\0') << round << " " << i;
            // A "<" that may open a tag, by the byte after it (the last byte
            // of a block is a line feed).
            if (!inside || i + 1 == to) continue;
            const char next = static_cast<char>(text[i + 1] | 0x20);
            ASSERT_EQ(bit(m.candidate, i), text[i] == '<' && (text[i + 1] == '/' || next == 't' || next == 'o' || next == 'u'))
                << round << " " << i;
        }
        EXPECT_EQ(CountMarks(m.lf.data(), from, to), static_cast<std::uint64_t>(std::count(text.begin() + from, text.begin() + to, '\n')));
    }
}

// Lines of an export read through the reader, `step` bytes a read.
std::vector<std::string> Lines(const std::string& bytes, std::size_t step) {
    std::size_t offset = 0;
    const ReadLines r = ReadAllLines(nullptr, FromMemory(bytes, step, offset));
    EXPECT_FALSE(r.read_error);
    EXPECT_EQ(offset, bytes.size());
    return r.lines;
}

TEST(Utf16Reader, TheMarkAloneOrWithAnOddByteInShortReads) {
    // A mark that arrives in two reads once left the reader handing out a
    // byte it had already given to the conversion.
    for (std::size_t step : {1u, 2u, 3u, 1000u}) {
        EXPECT_EQ(Lines("\xFF\xFE", step), std::vector<std::string>{}) << step;
        EXPECT_EQ(Lines("\xFE\xFF", step), std::vector<std::string>{}) << step;
        EXPECT_EQ(Lines(std::string("\xFF\xFE\n", 3), step), std::vector<std::string>{"\xEF\xBF\xBD"}) << step;
        EXPECT_EQ(Lines(std::string("\xFF\xFE\n\0A\0", 6), step), (std::vector<std::string>{"", "A"})) << step;
        EXPECT_EQ(Lines(std::string("\xFF\n", 2), step), (std::vector<std::string>{"\xFF"})) << step;
    }
}

}  // namespace
