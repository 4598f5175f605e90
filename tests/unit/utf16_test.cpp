// Exports saved as UTF-16: converted as read, positions in the file's bytes.
#include <gtest/gtest.h>

#include <cstring>

#include "json_writer.h"
#include "test_util.h"
#include "utf16.h"

namespace {

using testutil::ReadFile;
using testutil::WriteFile;

// UTF-16 of some UTF-8 text, with the byte-order mark.
std::string ToUtf16(std::string_view utf8, bool big_endian) {
    std::u32string code_points;
    for (std::size_t i = 0; i < utf8.size();) {
        auto c = static_cast<unsigned char>(utf8[i]);
        int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        char32_t cp = len == 1 ? c : c & (0x7F >> len);
        for (int k = 1; k < len; ++k) cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        code_points.push_back(cp);
        i += static_cast<std::size_t>(len);
    }
    std::string out;
    auto put = [&](unsigned unit) {
        char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xFF);
        out += big_endian ? std::string{hi, lo} : std::string{lo, hi};
    };
    put(0xFEFF);
    for (char32_t cp : code_points) {
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

std::string Decode(const std::string& raw, bool big_endian) {
    Utf16Decoder d;
    d.big_endian = big_endian;
    d.raw.assign(raw.begin(), raw.end());
    std::string out;
    char block[8];
    for (std::size_t n; (n = DecodeUtf16(d, block, sizeof block, true)) > 0;) out.append(block, n);
    return out;
}

TEST(Utf16, ConvertsBothByteOrdersAndSurrogatePairs) {
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z\r\n";  // a é € 😀 z
    for (bool big : {false, true}) {
        std::string raw = ToUtf16(text, big);
        bool detected_big = !big;
        ASSERT_EQ(Utf16Bom(raw, detected_big), 2u);
        EXPECT_EQ(detected_big, big);
        EXPECT_EQ(Decode(raw.substr(2), big), text);
        EXPECT_EQ(Utf16Units(text.data(), text.size()), (raw.size() - 2) / 2);
    }
    bool big = false;
    EXPECT_EQ(Utf16Bom("<TABLE", big), 0u);
    EXPECT_EQ(Utf16Bom("\xFF", big), 0u);
}

TEST(Utf16, BrokenInputBecomesReplacementCharacters) {
    const std::string replacement = "\xEF\xBF\xBD";
    // A lone low surrogate, a high one followed by a letter, a high one at
    // the end, and an odd byte at the end.
    EXPECT_EQ(Decode(std::string("\x00\xDC", 2) + "A" + std::string(1, '\0'), false), replacement + "A");
    EXPECT_EQ(Decode(std::string("\x00\xD8", 2) + "A" + std::string(1, '\0'), false), replacement + "A");
    EXPECT_EQ(Decode(std::string("A\x00\x00\xD8", 4), false), "A" + replacement);
    EXPECT_EQ(Decode(std::string("A\x00Z", 3), false), "A" + replacement);
}

const std::string kExportText =
    "<TABLE XMLNS:USOURCE>\r\n<OCC>\r\n<USOURCE:ULABEL>Größe</USOURCE:ULABEL>\r\n"
    "<USOURCE:USOURCE>\r\nentry größe\r\n  call custno() // \xF0\x9F\x98\x80\r\n"
    "  custno = 1\r\n</USOURCE:USOURCE>\r\n</OCC>\r\n</TABLE>\r\n";

class Utf16Run : public ::testing::Test {
protected:
    testutil::TempDir dir;
    testutil::RecordingDisplay display;
    testutil::FixedClock clock;

    // The log of a search for CUSTNO, and the JSON records of it.
    std::string Search(const std::string& name, const std::string& bytes, std::string* json = nullptr,
                       std::size_t read_size = 0) {
        std::string path = dir / name;
        WriteFile(path, bytes);
        RunInputs in;
        RunSeams seams;
        seams.clock = clock.fn();
        in.srch_string = "CUSTNO";
        in.srchfilename = path;
        in.logfilename = dir / "search.log";
        if (read_size)
            seams.read_block = [read_size](std::FILE* f, char* dst, std::size_t n) -> std::int64_t {
                return static_cast<std::int64_t>(std::fread(dst, 1, std::min(n, read_size), f));
            };
        std::FILE* out = std::tmpfile();
        JsonWriter writer(out);
        in.sink = &writer;
        RunResult r = Quelvar(display, in, seams);
        EXPECT_EQ(r.outcome, RunOutcome::Completed);
        if (json) {
            json->assign(static_cast<std::size_t>(std::ftell(out)), '\0');
            std::rewind(out);
            EXPECT_EQ(std::fread(json->data(), 1, json->size(), out), json->size());
        }
        std::fclose(out);
        // The export's name masked, and the time (the clock stands still).
        std::string log = ReadFile(dir / "search.log");
        for (std::size_t at; (at = log.find(path)) != std::string::npos;) log.replace(at, path.size(), "EXPORT");
        return log;
    }
};

TEST_F(Utf16Run, FindsWhatTheSameExportInUtf8Holds) {
    std::string json8, json16;
    const std::string expected = Search("utf8.xml", kExportText, &json8);
    EXPECT_NE(expected.find("Entry:GRößE  Trigger:USOURCE(   2) :: '  CALL CUSTNO() // \xF0\x9F\x98\x80'"),
              std::string::npos)
        << expected;
    for (bool big : {false, true}) {
        for (std::size_t read_size : {std::size_t{0}, std::size_t{1}, std::size_t{7}}) {
            EXPECT_EQ(Search("utf16.xml", ToUtf16(kExportText, big), &json16, read_size), expected)
                << big << " " << read_size;
        }
    }
    // Offsets count the file's bytes: 2 for the mark, 2 for each unit before.
    const std::size_t line6 = kExportText.find("  call");
    const std::string before = kExportText.substr(0, line6);
    const std::size_t offset16 = 2 + 2 * Utf16Units(before.data(), before.size());
    EXPECT_NE(json8.find("\"export_line\":6,\"byte_offset\":" + std::to_string(line6) + ","), std::string::npos);
    EXPECT_NE(json16.find("\"export_line\":6,\"byte_offset\":" + std::to_string(offset16) + ","), std::string::npos)
        << json16;
    const std::size_t line7 = kExportText.find("  custno =");
    const std::string before7 = kExportText.substr(0, line7);
    EXPECT_NE(json16.find("\"byte_offset\":" + std::to_string(2 + 2 * Utf16Units(before7.data(), before7.size()))),
              std::string::npos);
    // Without the mark: the same hits, offsets two bytes less.
    for (bool big : {false, true})
        EXPECT_EQ(Search("bare.xml", ToUtf16(kExportText, big).substr(2), &json16, 7), expected) << big;
    EXPECT_NE(json16.find("\"byte_offset\":" + std::to_string(offset16 - 2) + ","), std::string::npos);
}

TEST_F(Utf16Run, ProgressCountsTheFilesBytesAndEndsAtAHundred) {
    // Long enough for many progress steps, with lines beyond U+FFFF.
    std::string text = "<TABLE XMLNS:UFORM>\r\n<OCC>\r\n<UFORM:UCODE>\r\n";
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + " \xF0\x9F\x98\x80 \xC3\xA9\r\n";
    text += "custno</UFORM:UCODE>\r\n</OCC>\r\n</TABLE>\r\n";
    const std::string expected = Search("utf8.xml", text);
    std::vector<std::string> plain = display.calls;
    display.calls.clear();
    EXPECT_EQ(Search("utf16.xml", ToUtf16(text, false)), expected);
    std::vector<std::string> positions;
    for (const std::string& c : display.calls)
        if (c.rfind("pos ", 0) == 0) positions.push_back(c);
    ASSERT_EQ(positions.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(positions[i], "pos " + std::to_string(i + 1));
    EXPECT_EQ(display.calls.back(), "pos 100");
    EXPECT_EQ(plain.back(), "pos 100");
}

}  // namespace
