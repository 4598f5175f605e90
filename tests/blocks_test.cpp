// The export in blocks of whole lines: line ends, bytes that are data, long
// lines, reads of every size and read errors; the marks of a block.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "block_lines.h"
#include "blocks.h"
#include "cpu.h"
#include "marks.h"
#include "test_util.h"

namespace {

testutil::ReadLines ReadAll(const std::string& bytes, std::size_t step = ~std::size_t{0}) {
    std::size_t offset = 0;
    return testutil::ReadAllLines(nullptr, testutil::FromMemory(bytes, step, offset));
}

using V = std::vector<std::string>;

TEST(Blocks, CrLfAndLoneLfEndLines) {
    const testutil::ReadLines r = ReadAll("a\r\nb\nc\r\r\n\r\n\nlast");
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
    const testutil::ReadLines r = ReadAll(a + "\r\n" + b + "\n" + a);
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[0], a);
    EXPECT_EQ(r.lines[1], b);
    EXPECT_EQ(r.lines[2], a);
    EXPECT_EQ(r.export_lines, (std::vector<std::uint64_t>{1, 2, 3}));
}

TEST(Blocks, OverlongLinesComeInPiecesOfOneLineOfTheExport) {
    const std::string huge(kMaxLineLength + 10, 'x');
    const testutil::ReadLines r = ReadAll("first\n" + huge + "\nnext\n");
    ASSERT_EQ(r.lines.size(), 4u);
    EXPECT_EQ(r.lines[1].size(), kMaxLineLength);
    EXPECT_EQ(r.lines[2], std::string(10, 'x'));
    EXPECT_EQ(r.lines[3], "next");
    // The pieces are one line of the export, which starts after "first\n".
    EXPECT_EQ(r.export_lines, (std::vector<std::uint64_t>{1, 2, 2, 3}));
    EXPECT_EQ(r.offsets, (std::vector<std::uint64_t>{0, 6, 6, 6 + huge.size() + 1}));
    // Exactly the longest whole line, CR LF included, is still one line.
    const testutil::ReadLines exact = ReadAll(std::string(kMaxLineLength, 'y') + "\r\n");
    ASSERT_EQ(exact.lines.size(), 1u);
    EXPECT_EQ(exact.lines[0].size(), kMaxLineLength);
    // An overlong last line without a line end.
    const testutil::ReadLines last = ReadAll(std::string(kMaxLineLength + 1, 'z'));
    ASSERT_EQ(last.lines.size(), 2u);
    EXPECT_EQ(last.lines[1], "z");
    EXPECT_EQ(last.positions.back(), kMaxLineLength + 1);
}

TEST(Blocks, ReadErrorEndsTheLinesAndIsReported) {
    int calls = 0;
    const testutil::ReadLines r = testutil::ReadAllLines(nullptr, [&](std::FILE*, char* dst, std::size_t) -> std::int64_t {
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
    const testutil::ReadLines whole = ReadAll(text);
    for (std::size_t step : {1u, 7u, 4096u, 65537u, 1000000u}) {
        if (step == 1) {  // a byte a read: a smaller text will do
            const std::string small = text.substr(0, 300000) + "\nlast";
            const testutil::ReadLines a = ReadAll(small), b = ReadAll(small, 1);
            EXPECT_EQ(a.lines, b.lines);
            EXPECT_EQ(a.positions, b.positions);
            continue;
        }
        const testutil::ReadLines r = ReadAll(text, step);
        EXPECT_EQ(r.lines, whole.lines) << step;
        EXPECT_EQ(r.positions, whole.positions) << step;
        EXPECT_EQ(r.export_lines, whole.export_lines) << step;
    }
}

// The marks agree with the bytes, wherever the bytes to mark begin and end,
// with 16- and 32-byte vectors.
TEST(Marks, AgreeWithTheBytes) {
    std::mt19937 rng(5);
    const std::string alphabet("ab<\n\0 \r\t>", 9);
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
        }
        EXPECT_EQ(CountMarks(m.lf.data(), from, to), static_cast<std::uint64_t>(std::count(text.begin() + from, text.begin() + to, '\n')));
    }
}

}  // namespace
