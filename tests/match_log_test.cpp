// Search strings (splitting, order, limits), counting matches, the layout of
// a match line and how messages become log lines.
#include <gtest/gtest.h>

#include "match_log.h"
#include "test_util.h"

namespace {

std::vector<std::string> Strings(const RunState& run) {
    std::vector<std::string> out;  // head first, as the list is walked
    for (SearchString* s = run.next_srch_string; s; s = s->next_string)
        out.emplace_back(s->allocated_string, s->string_length - 1);
    return out;
}

std::vector<std::string> Build(std::string_view text) {
    RunState run;
    EXPECT_EQ(BuildSrchStrings(run, text), 1);
    std::vector<std::string> out = Strings(run);
    DeAllocateEverything(run);
    EXPECT_EQ(run.next_srch_string, nullptr);
    return out;
}

using V = std::vector<std::string>;

TEST(BuildSrchStrings, EveryCrLfEndsOneStringNewestFirst) {
    EXPECT_EQ(Build("A\r\nB\r\n"), (V{"B", "A"}));
    EXPECT_EQ(Build("A\r\nB"), (V{"B", "A"}));
    EXPECT_EQ(Build("A\r\n\r\nB"), (V{"B", "", "A"}));
    EXPECT_EQ(Build("FOO\r\n\r\n"), (V{"", "FOO"}));
    EXPECT_EQ(Build("\r\nA"), (V{"A", ""}));
    EXPECT_EQ(Build(""), V{});
}

TEST(BuildSrchStrings, OnlyCrLfSplitsAndLongStringsStayWhole) {
    EXPECT_EQ(Build("A\nB\rC\r\n"), (V{"A\nB\rC"}));
    std::string long_one(1500, 'X');
    EXPECT_EQ(Build(long_one + "\r\n" + long_one), (V{long_one, long_one}));
}

class MatchTest : public ::testing::Test {
protected:
    RunState run;
    void SetUp() override { ASSERT_EQ(BuildSrchStrings(run, "AB\r\nCD\r\n"), 1); }
    void TearDown() override { DeAllocateEverything(run); }
    std::int64_t Count(const char* s) {
        for (SearchString* r = run.next_srch_string; r; r = r->next_string)
            if (std::string(r->allocated_string) == s) return r->matching_lines;
        return -1;
    }
    // The match lines written so far.
    std::string Log() const { return run.output_file.buffer; }
};

TEST_F(MatchTest, ALineCountsOncePerStringAndIsWrittenOnce) {
    ProcessMatches(run, "ABAB CD", 1);
    ProcessMatches(run, "XY", 2);
    ProcessMatches(run, "AB", 3);
    EXPECT_EQ(Count("AB"), 2);
    EXPECT_EQ(Count("CD"), 1);
    EXPECT_EQ(Log(), ":: 'ABAB CD'\r\n:: 'AB'\r\n");
}

TEST_F(MatchTest, ContextFieldsInTheirOrderAndDescriptionsNeverShown) {
    ScanContext& c = run.context;
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
    ProcessMatches(run, "AB", 7);
    EXPECT_EQ(Log(),
              "Library:L  Form:F  Global:G  Entry:E  Menubar:M  Glyph:Y  Sourcetype:S  "
              "Model:O  Table:T  Field:D  Trigger:UCODE(   7) :: 'AB'\r\n");
}

TEST_F(MatchTest, LineNumbersAreRightAlignedInFourColumnsAndGrow) {
    run.context.current_trigger = "X";
    ProcessMatches(run, "AB", 12);
    ProcessMatches(run, "AB", 123456);
    EXPECT_EQ(Log(),
              "Trigger:X(  12) :: 'AB'\r\nTrigger:X(123456) :: 'AB'\r\n");
}

TEST_F(MatchTest, CarriageReturnsInsideDataAreDroppedFromTheLog) {
    ProcessMatches(run, "A\rB AB", 1);
    EXPECT_EQ(Log(), ":: 'AB AB'\r\n");
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
