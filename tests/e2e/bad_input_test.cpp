// Bad input, end to end through the command line: each case checks the exit
// status and message, that the export is unchanged, and that the log is whole
// (its summary agrees with the one printed) or that the failure says it is not.
#include <gtest/gtest.h>

#include <random>

#include "test_util.h"

namespace {

using testutil::Outcome;
using testutil::ReadFile;
using testutil::WriteFile;

class BadInput : public ::testing::Test {
protected:
    testutil::TempDir dir;

    Outcome Run(const std::vector<std::string>& args) {
        return testutil::RunProgram(REPOSEARCH_BIN, args, dir);
    }

    // Runs a search of `bytes` written to `name`, checks the export is left
    // as it was and that the log ends in the summary that was printed.
    Outcome Search(const std::string& name, const std::string& bytes, std::vector<std::string> strings,
                   const std::string& log_name) {
        std::string path = dir / name;
        WriteFile(path, bytes);
        std::vector<std::string> args = {"-q", path};
        args.insert(args.end(), strings.begin(), strings.end());
        Outcome o = Run(args);
        EXPECT_EQ(ReadFile(path), bytes) << "the export changed";
        ExpectWholeLog(dir / log_name, o.out);
        return o;
    }

    static void ExpectWholeLog(const std::string& log_path, const std::string& printed) {
        std::string summary = printed.substr(0, printed.find("\n\n\nSee full results"));
        if (std::size_t reason = summary.find("\n\n"); reason != std::string::npos)
            summary = summary.substr(reason + 2);  // after a failure's first sentence
        std::string crlf;
        for (char c : summary + "\n") crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        std::string log = ReadFile(log_path);
        std::string tail = "Result Summary:\r\n" + crlf;
        ASSERT_GE(log.size(), tail.size()) << log_path;
        EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log_path;
    }
};

const std::string kHead = "<TABLE XMLNS:UFORM>\r\n<OCC>\r\n<UFORM:UCODE>\r\n";

TEST_F(BadInput, ExportThatCannotBeOpened) {
    for (std::string name : {"missing.xml", "missing"}) {
        Outcome o = Run({"-q", dir / name, "X"});
        EXPECT_EQ(o.status, 2);
        // The system's reason on standard error, and no count: it was
        // never searched. The log beside it keeps its fixed text.
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, "reposearch: " + (dir / name) + ": cannot open the export: No such file or directory\n");
        std::string log = ReadFile(dir / (name.substr(0, name.find('.')) + ".log"));
        EXPECT_NE(log.find("\r\n\r\nResult Summary:\r\n'X' found 0 times\r\n"), std::string::npos) << log;
    }
}

TEST_F(BadInput, ExportNamedLikeItsLog) {
    Outcome o = Search("x.log", kHead + "x\r\n", {"X"}, "x.log.log");
    EXPECT_EQ(o.status, 0);
    o = Search("Y.LOG", kHead + "y\r\n", {"Y"}, "Y.log");
    EXPECT_EQ(o.status, 0);
}

TEST_F(BadInput, LogInAMissingFolder) {
    std::string path = dir / "export.xml";
    WriteFile(path, kHead);
    Outcome o = Run({"-q", "--log", dir / "missing/out.log", path, "X"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err.rfind("reposearch: Unable to Open Logfile: Unable to open output file '", 0), 0u);
    EXPECT_EQ(ReadFile(path), kHead);
}

TEST_F(BadInput, BinaryGarbageZeroBytesAndNoLineEnds) {
    std::mt19937 rng(7);
    std::string garbage(1 << 20, '\0');
    for (char& c : garbage) c = static_cast<char>(rng());
    EXPECT_LE(Search("garbage.xml", kHead + garbage, {"X", "<"}, "garbage.log").status, 1);
    EXPECT_LE(Search("zeros.xml", kHead + std::string(100000, '\0') + "\r\nx\r\n", {"X"}, "zeros.log").status,
              1);
    std::string one_line = "<TABLE XMLNS:UFORM><OCC><UFORM:UCODE>" + std::string(1 << 20, 'y') + "x";
    EXPECT_EQ(Search("flat.xml", one_line, {"YX"}, "flat.log").status, 0);
}

TEST_F(BadInput, HundredMegabyteLineWithTheStringAtItsEnd) {
    std::string line(std::size_t{100} << 20, 'a');
    line.replace(line.size() - 6, 6, "needle");
    Outcome o = Search("long.xml", kHead + line + "\r\n</UFORM:UCODE>\r\n", {"needle"}, "long.log");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.rfind("'NEEDLE' found 1 times\n", 0), 0u) << o.out.substr(0, 200);
    // Kept whole up to 16 MiB, so a 100 MiB line is read as seven pieces.
    EXPECT_NE(ReadFile(dir / "long.log").find("Trigger:UCODE(   7) :: 'AAAA"), std::string::npos);
}

TEST_F(BadInput, CarriageReturnsAloneEndNoLine) {
    Outcome o = Search("cr.xml", "<TABLE XMLNS:UFORM>\r<OCC>\r<UFORM:UCODE>foo\r</UFORM:UCODE>\r", {"foo"},
                       "cr.log");
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(ReadFile(dir / "cr.log").find("Trigger:UCODE(   1) :: 'FOO'\r\n"), std::string::npos);
}

TEST_F(BadInput, ElementWhoseEndTagNeverComes) {
    Outcome o = Search("open.xml", kHead + "a\r\n</OCC>\r\n</TABLE>\r\n<TABLE XMLNS:ULIBR>\r\nb\r\n", {"</"},
                       "open.log");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.rfind("'</' found 2 times\n", 0), 0u);
}

TEST_F(BadInput, TenThousandStringsAndOneOverlongString) {
    std::string list;
    for (int i = 0; i < 10000; ++i) list += "s" + std::to_string(i) + "\n";
    WriteFile(dir / "strings.txt", list);
    std::string path = dir / "many.xml";
    std::string bytes = kHead + "s9999 s5\r\n";
    WriteFile(path, bytes);
    Outcome o = Run({"-q", "-f", dir / "strings.txt", path});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("'S9999' found 1 times\n"), std::string::npos);
    EXPECT_NE(o.out.find("'S5' found 1 times\n"), std::string::npos);
    ExpectWholeLog(dir / "many.log", o.out);

    // A string longer than the line is not found in its first bytes; one as
    // long as a whole line of 5,000 bytes is.
    const std::string line(5000, 'q');
    o = Search("overlong.xml", kHead + line.substr(0, 1200) + "\r\n" + line + "\r\n",
               {std::string(1500, 'q'), line}, "overlong.log");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.rfind("'" + std::string(1500, 'Q') + "' found 1 times\n'" + std::string(5000, 'Q') +
                              "' found 1 times\n", 0), 0u);
}

TEST_F(BadInput, EmptyStringAmongOthersMatchesEveryDataLine) {
    Outcome o = Search("empty.xml", kHead + "a\r\n\r\nb</UFORM:UCODE>\r\n", {"A", "", "Z"}, "empty.log");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.rfind("'A' found 1 times\n'' found 2 times\n'Z' found 0 times\n", 0), 0u);
}

TEST_F(BadInput, PathWithSpacesQuotesAndOtherBytes) {
    Outcome o = Search("a b 'c' \"d\" \xE9\xFF.x.xml", kHead + "hit\r\n", {"hit"}, "a b 'c' \"d\" \xE9\xFF.log");
    EXPECT_EQ(o.status, 0);
}

}  // namespace
