// Search strings (splitting, order), the layout of a match line and how
// messages become log lines.
#include <gtest/gtest.h>

#include "context.h"
#include "log_writer.h"
#include "search_strings.h"
#include "test_util.h"

namespace {

using V = std::vector<std::string>;

TEST(BuildSrchStrings, EveryCrLfEndsOneStringInTheOrderGiven) {
    EXPECT_EQ(BuildSrchStrings("A\r\nB\r\n"), (V{"A", "B"}));
    EXPECT_EQ(BuildSrchStrings("A\r\nB"), (V{"A", "B"}));
    EXPECT_EQ(BuildSrchStrings("A\r\n\r\nB"), (V{"A", "", "B"}));
    EXPECT_EQ(BuildSrchStrings("FOO\r\n\r\n"), (V{"FOO", ""}));
    EXPECT_EQ(BuildSrchStrings("\r\nA"), (V{"", "A"}));
    EXPECT_EQ(BuildSrchStrings(""), V{});
}

TEST(BuildSrchStrings, OnlyCrLfSplitsAndLongStringsStayWhole) {
    EXPECT_EQ(BuildSrchStrings("A\nB\rC\r\n"), (V{"A\nB\rC"}));
    std::string long_one(1500, 'X');
    EXPECT_EQ(BuildSrchStrings(long_one + "\r\n" + long_one), (V{long_one, long_one}));
}

// The match lines the log writer writes for hits of `data` at these
// element lines.
std::string Lines(const ScanContext& c, const std::vector<std::pair<std::string, std::int64_t>>& hits) {
    LogStream log;
    LogWriter writer(&log);
    const std::vector<std::uint32_t> strings = {0};
    for (const auto& [data, line] : hits) writer.OnHit(Hit{c, line, data, strings, 1, 0});
    return log.buffer;
}

TEST(LogWriter, ContextFieldsInTheirOrderAndDescriptionsNeverShown) {
    ScanContext c;
    EXPECT_EQ(Lines(c, {{"AB", 1}}), ":: 'AB'\r\n");
    c.current_library = "L";
    c.current_form = "F";
    c.current_global = "G";
    c.current_entryname = "E";
    c.current_menubar = "M";
    c.current_glyph = "Y";
    c.current_sourcetype = "S";
    c.current_model = "O";
    c.current_table = "T";
    c.current_field = "D";
    c.current_trigger = "UCODE";
    c.current_formdesc = "FD";
    c.current_fielddesc = "DD";
    EXPECT_EQ(Lines(c, {{"AB", 7}}),
              "Library:L  Form:F  Global:G  Entry:E  Menubar:M  Glyph:Y  Sourcetype:S  "
              "Model:O  Table:T  Field:D  Trigger:UCODE(   7) :: 'AB'\r\n");
}

TEST(LogWriter, LineNumbersAreRightAlignedInFourColumnsAndGrow) {
    ScanContext c;
    c.current_trigger = "X";
    EXPECT_EQ(Lines(c, {{"AB", 12}, {"AB", 123456}}), "Trigger:X(  12) :: 'AB'\r\nTrigger:X(123456) :: 'AB'\r\n");
}

TEST(LogWriter, CarriageReturnsInsideDataAreDroppedFromTheLog) {
    ScanContext c;
    c.current_form = "A\rB";
    EXPECT_EQ(Lines(c, {{"A\rB AB", 1}}), "Form:AB  :: 'AB AB'\r\n");
}

TEST(AddMsgToOutputFile, MessagesBecomeWholeCrLfLines) {
    auto write = [](std::string_view text) {
        LogStream log;
        AddMsgToOutputFile(log, text);
        return log.buffer;
    };
    EXPECT_EQ(write("\n"), "\r\n");
    EXPECT_EQ(write("a\n"), "a\r\n");
    EXPECT_EQ(write("a"), "a\r\n");
    EXPECT_EQ(write("a\r\nb\r\n"), "a\r\nb\r\n");
    EXPECT_EQ(write("\na\n\nb"), "\r\na\r\n\r\nb\r\n");
    EXPECT_EQ(write(""), "");
    EXPECT_EQ(write("\r"), "");
    EXPECT_EQ(write("x\ny\r"), "x\r\ny\r\n");
}

TEST(LogStream, AFailedWriteIsRememberedUntilClose) {
#ifndef _WIN32
    LogStream log;
    log.file = std::fopen("/dev/full", "wb");
    ASSERT_NE(log.file, nullptr);
    AddMsgToOutputFile(log, "lost\n");
    EXPECT_FALSE(CloseLog(log, true));
    EXPECT_EQ(log.file, nullptr);
#else
    GTEST_SKIP() << "needs /dev/full";
#endif
}

}  // namespace
