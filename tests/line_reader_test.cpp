// Splitting the export into lines: line ends, bytes that are data, long lines
// and read errors.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "line_reader.h"
#include "test_util.h"

namespace {

struct Lines {
    std::vector<std::string> lines;
    std::vector<std::uint64_t> positions;
    bool read_error = false;
};

Lines ReadAll(const std::string& bytes, ReadBlock read_block = {}) {
    testutil::TempDir dir;
    std::string path = dir / "export.xml";
    testutil::WriteFile(path, bytes);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    LineReader reader;
    StartLineReader(reader, f, std::move(read_block));
    Lines out;
    std::string_view line;
    while (ReadLine(reader, line)) {
        out.lines.emplace_back(line);
        out.positions.push_back(reader.position);
    }
    out.read_error = reader.read_error;
    std::fclose(f);
    return out;
}

using V = std::vector<std::string>;

TEST(LineReader, CrLfAndLoneLfEndLines) {
    Lines r = ReadAll("a\r\nb\nc\r\r\n\r\n\nlast");
    EXPECT_EQ(r.lines, (V{"a", "b", "c\r", "", "", "last"}));
    EXPECT_EQ(r.positions, (std::vector<std::uint64_t>{3, 5, 9, 11, 12, 16}));
    EXPECT_FALSE(r.read_error);
}

TEST(LineReader, LoneCrCtrlZAndZeroBytesAreData) {
    std::string bytes("a\rb\x1A" "c\0d\r\ne", 10);
    EXPECT_EQ(ReadAll(bytes).lines, (V{std::string("a\rb\x1A" "c\0d", 7), "e"}));
    EXPECT_EQ(ReadAll("").lines, V{});
    EXPECT_EQ(ReadAll("\r\n").lines, V{""});
}

TEST(LineReader, LongLinesStayWholeAcrossBlocks) {
    std::string a(3 << 20, 'a'), b(5, 'b');
    Lines r = ReadAll(a + "\r\n" + b + "\n" + a);
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[0], a);
    EXPECT_EQ(r.lines[1], b);
    EXPECT_EQ(r.lines[2], a);
}

TEST(LineReader, OverlongLinesComeInPieces) {
    std::string huge(kMaxLineLength + 10, 'x');
    Lines r = ReadAll(huge + "\nnext\n");
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[0].size(), kMaxLineLength);
    EXPECT_EQ(r.lines[1], std::string(10, 'x'));
    EXPECT_EQ(r.lines[2], "next");
    // Exactly the longest whole line, CR LF included, is still one line.
    Lines exact = ReadAll(std::string(kMaxLineLength, 'y') + "\r\n");
    ASSERT_EQ(exact.lines.size(), 1u);
    EXPECT_EQ(exact.lines[0].size(), kMaxLineLength);
}

TEST(LineReader, ReadErrorEndsTheLinesAndIsReported) {
    int calls = 0;
    Lines r = ReadAll("one\ntwo\nthree\n", [&](std::FILE*, char* dst, std::size_t) -> std::int64_t {
        if (calls++ > 0) return -1;
        std::memcpy(dst, "one\ntw", 6);
        return 6;
    });
    EXPECT_EQ(r.lines, (V{"one", "tw"}));
    EXPECT_TRUE(r.read_error);
}

}  // namespace

namespace {

// The marks of every block agree with the bytes, across refills, short
// reads and lines that grow the buffer, read ahead on a second thread or not.
TEST(Marks, AgreeWithTheBytesOfEveryLine) {
    std::mt19937 rng(5);
    const std::string big(3 << 20, 'x');
    const std::string text = "a<b\r\nplain\r\n" + big + "\n<\nno\n\n" + big + "<\n" + std::string("z\0y\n \t\n", 7) + std::string(70, '<');
    for (int round = 0; round < 8; ++round) {
        std::size_t offset = 0;
        const unsigned most = round % 4 == 0 ? ~0u : 1 + static_cast<unsigned>(rng() % 5000);
        LineReader reader;
        StartLineReader(
            reader, nullptr,
            [&](std::FILE*, char* dst, std::size_t n) -> std::int64_t {
                std::size_t take = std::min<std::size_t>({n, text.size() - offset, most});
                std::memcpy(dst, text.data() + offset, take);
                offset += take;
                return static_cast<std::int64_t>(take);
            },
            nullptr, round >= 4);
        std::vector<bool> holds;
        std::string_view line;
        while (ReadLine(reader, line)) {
            const std::size_t a = static_cast<std::size_t>(line.data() - reader.buffer.data());
            for (std::size_t i = 0; i < line.size(); ++i) {
                const auto bit = [&](const std::vector<std::uint64_t>& m) { return (m[(a + i) / 64] >> ((a + i) % 64)) & 1; };
                ASSERT_EQ(bit(reader.marks.tag), line[i] == '<') << round;
                ASSERT_EQ(bit(reader.marks.zero), line[i] == '\0') << round;
                ASSERT_EQ(bit(reader.marks.filled), !IsBlank(line[i])) << round;
            }
            holds.push_back(AnyMark(reader.marks.tag.data(), a, a + line.size()));
            EXPECT_EQ(NextMarked(reader, reader.marks.lf) - reader.position,
                      std::string_view(reader.buffer.data() + reader.begin, reader.end - reader.begin).find('\n') == std::string_view::npos
                          ? reader.end - reader.begin
                          : std::string_view(reader.buffer.data() + reader.begin, reader.end - reader.begin).find('\n'));
        }
        EXPECT_EQ(holds, (std::vector<bool>{true, false, false, true, false, false, true, false, false, true})) << round;
    }
}

}  // namespace

namespace {

TEST(SkipLines, CountsLinesAndThoseWithMoreThanBlanks) {
    std::mt19937 rng(3);
    // Blanks, and the bytes next to them in value that are not blanks.
    const std::string blanks = " \t\r\v\f", others = std::string("a\b\x0e\x1f!\x89\xa0\0", 8);
    // Long enough for lines and blank runs to cross 64-byte boundaries.
    for (int round = 0; round < 300; ++round) {
        std::string text(rng() % 2000, ' ');
        const unsigned lf_odds = 1 + rng() % 150, other_odds = 1 + rng() % 100;
        for (char& c : text)
            c = rng() % lf_odds == 0       ? '\n'
                : rng() % other_odds == 0 ? others[rng() % others.size()]
                                          : blanks[rng() % blanks.size()];
        testutil::TempDir dir;
        std::string path = dir / "export.xml";
        testutil::WriteFile(path, text);
        std::FILE* f = std::fopen(path.c_str(), "rb");
        LineReader reader;
        StartLineReader(reader, f, {});
        std::string_view first;
        ASSERT_EQ(ReadLine(reader, first), !text.empty());
        std::uint64_t start = reader.position, limit = start + rng() % 2000;
        std::uint64_t lines = 0;
        std::int64_t filled = 0;
        reader.wide = reader.wide && round % 2 == 0;  // both widths where there are two
        const bool count_filled = round % 3 != 0;     // the lines alone, a word of marks at a time
        SkipLines(reader, limit, lines, count_filled ? &filled : nullptr);
        // The same counted line by line.
        std::uint64_t expect_lines = 0, at = start;
        std::int64_t expect_filled = 0;
        for (std::size_t lf; (lf = text.find('\n', at)) != std::string::npos && lf < limit; at = lf + 1) {
            ++expect_lines;
            expect_filled += text.substr(at, lf - at).find_first_not_of(" \t\r\v\f") != std::string::npos;
        }
        EXPECT_EQ(lines, expect_lines) << round;
        EXPECT_EQ(filled, count_filled ? expect_filled : 0) << round;
        EXPECT_EQ(reader.position, at) << round;
        std::fclose(f);
    }
}

}  // namespace
