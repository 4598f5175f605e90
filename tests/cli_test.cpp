// The command-line tool end to end: arguments, outputs, exit status.
#include <gtest/gtest.h>

#include <regex>

#include "test_util.h"

namespace {

using testutil::CrLf;
using testutil::ReadFile;
using testutil::WriteFile;

using testutil::Outcome;

class CliTest : public ::testing::Test {
protected:
    testutil::TempDir dir;
    std::string export_path;

    void SetUp() override {
        export_path = dir / "export.xml";
        WriteFile(export_path,
                  CrLf({"<TABLE XMLNS:USOURCE>", "<OCC>", "<USOURCE:ULABEL>calc</USOURCE:ULABEL>",
                        "<USOURCE:USOURCE>", "entry calc", "  call Helper()", "end",
                        "</USOURCE:USOURCE>", "</OCC>", "</TABLE>"}));
    }

    Outcome Cli(const std::vector<std::string>& args, const std::string& input = "") {
        return testutil::RunProgram(REPOSEARCH_BIN, args, dir, input);
    }
};

// Time stamps vary; compare logs with them masked.
std::string Masked(const std::string& log) {
    static const std::regex stamp("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}");
    return std::regex_replace(log, stamp, "TIME");
}

TEST_F(CliTest, FoundStringsGiveZeroAndTheLogBesideTheExport) {
    Outcome o = Cli({"-q", export_path, "helper", "nothing"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "'HELPER' found 1 times\n'NOTHING' found 0 times\n\n\nSee full results in output file '" +
                         (dir / "export.log") + "'\n");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(Masked(ReadFile(dir / "export.log")),
              "Starting search of file '" + export_path + "' on TIME\r\n"
              "looking for:\r\nHELPER\r\nNOTHING\r\n\r\n"
              "Entry:CALC  Trigger:USOURCE(   2) :: '  CALL HELPER()'\r\n"
              "\r\nEnding search of file '" + export_path + "' at TIME\r\n"
              "Result Summary:\r\n'HELPER' found 1 times\r\n'NOTHING' found 0 times\r\n");
}

TEST_F(CliTest, NothingFoundGivesOne) {
    EXPECT_EQ(Cli({"-q", export_path, "absent"}).status, 1);
}

TEST_F(CliTest, LogToAFileOrToStandardOutput) {
    std::string log = dir / "elsewhere.txt";
    Outcome o = Cli({"--log", log, "-q", export_path, "CALC"});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(ReadFile(log).find("'CALC' found 1 times\r\n"), std::string::npos);
    EXPECT_FALSE(testutil::fs::exists(dir / "export.log"));

    o = Cli({"-q", "--log", "-", export_path, "CALC"});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("Trigger:USOURCE(   1) :: 'ENTRY CALC'\r\n"), std::string::npos);
    EXPECT_EQ(o.err.rfind("'CALC' found 1 times\n", 0), 0u);
}

TEST_F(CliTest, StringsFromFilesAndStandardInputInCommandLineOrder) {
    std::string list = dir / "strings.txt";
    WriteFile(list, "entry\r\nend\n");
    Outcome o = Cli({"-q", "-f", list, export_path, "helper", "-f", "-"}, "call");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.substr(0, o.out.find("\n\n")),
              "'ENTRY' found 1 times\n'END' found 1 times\n'HELPER' found 1 times\n"
              "'CALL' found 1 times");
}

TEST_F(CliTest, UsageErrorsGiveTwo) {
    EXPECT_EQ(Cli({}).status, 2);
    EXPECT_EQ(Cli({export_path}).status, 2);
    EXPECT_EQ(Cli({"--bogus", export_path, "X"}).status, 2);
    EXPECT_EQ(Cli({export_path, "X", "--log"}).status, 2);
    Outcome o = Cli({"-f", dir / "missing.txt", export_path});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("missing.txt"), std::string::npos);
    EXPECT_EQ(Cli({"--help"}).status, 0);
    EXPECT_EQ(Cli({"--version"}).out, "reposearch 1.0.0\n");
    // "--" lets a string start with a dash.
    EXPECT_EQ(Cli({"-q", "--", export_path, "-X"}).status, 1);
}

TEST_F(CliTest, FailuresGiveTwoWithTheirMessage) {
    Outcome o = Cli({"-q", "--log", dir / "no/such/dir.log", export_path, "X"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err.rfind("reposearch: Unable to Open Logfile: Unable to open output file '", 0), 0u)
        << o.err;
    EXPECT_EQ(o.out, "");

    o = Cli({"-q", dir / "missing.xml", "X"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err.rfind("reposearch: Result Summary: Unable to open search file '" + (dir / "missing.xml") + "'.", 0),
              0u);

    o = Cli({"-q", "--log", export_path, export_path, "X"});
    EXPECT_EQ(o.status, 2);
#ifndef _WIN32
    o = Cli({"-q", "--log", "/dev/full", export_path, "CALC"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find("reposearch: Writing to output file '/dev/full' failed: the log is incomplete."),
              std::string::npos)
        << o.err;
#endif
}

TEST_F(CliTest, TheExportIsNeverWritten) {
    std::string before = ReadFile(export_path);
    std::string named_like_log = dir / "export.LOG";
    WriteFile(named_like_log, before);
    Cli({"-q", named_like_log, "X"});
    Cli({"-q", export_path, "X"});
    EXPECT_EQ(ReadFile(export_path), before);
    EXPECT_EQ(ReadFile(named_like_log), before);
}

TEST_F(CliTest, AwkwardPathsAndBytes) {
    std::string odd = dir / "with space 'quote' \xC3\xA9.xml";
    const char bytes[] = "<TABLE XMLNS:UFORM>\n<OCC>\n<UFORM:UCODE>\x01\x02\0zz\nhit\xFF";
    WriteFile(odd, std::string(bytes, sizeof bytes - 1));
    Outcome o = Cli({"-q", odd, "HIT\xFF"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(ReadFile(dir / "with space 'quote' \xC3\xA9.log").find("Trigger:UCODE(   2) :: 'HIT\xFF'"),
              std::string::npos);
}

}  // namespace
