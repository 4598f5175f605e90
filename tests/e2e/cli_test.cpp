// The command-line tool end to end: arguments, outputs, exit status.
#include <gtest/gtest.h>

#include <regex>

#include "test_util.h"
#include "version.h"

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
    Outcome o = Cli({"-q", "-f", list, "-e", "helper", export_path, "-f", "-"}, "call");
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
    EXPECT_EQ(Cli({"--version"}).out, "reposearch " REPOSEARCH_VERSION "\n");
    // "--" lets a string start with a dash.
    EXPECT_EQ(Cli({"-q", "--", export_path, "-X"}).status, 1);
}

TEST_F(CliTest, FailuresGiveTwoWithTheirMessage) {
    Outcome o = Cli({"-q", "--log", dir / "no/such/dir.log", export_path, "X"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err.rfind("reposearch: Unable to Open Logfile: Unable to open output file '", 0), 0u)
        << o.err;
    // The box's text as the dialog has it, then the system's reason.
    EXPECT_NE(o.err.find("\nreposearch: cannot create the log '" + (dir / "no/such/dir.log") +
                         "': No such file or directory\n"),
              std::string::npos)
        << o.err;
    EXPECT_EQ(o.out, "");
    testutil::fs::create_directory(dir / "folder.log");
    o = Cli({"-q", "--log", dir / "folder.log", export_path, "X"});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("reposearch: cannot create the log '" + (dir / "folder.log") + "': Is a directory\n"),
              std::string::npos)
        << o.err;

    o = Cli({"-q", dir / "missing.xml", "X"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "reposearch: " + (dir / "missing.xml") + ": cannot open the export: No such file or directory\n");

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

#ifndef _WIN32
TEST_F(CliTest, ALogBesideTheExportIsNeverWrittenThroughALink) {
    namespace fs = testutil::fs;
    const std::string precious = dir / "precious.txt", link = dir / "export.log";
    WriteFile(precious, "keep");
    fs::create_symlink(precious, link);
    Outcome o = Cli({"-q", export_path, "helper"});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("reposearch: cannot create the log '" + link + "': it is a symbolic link\n"), std::string::npos)
        << o.err;
    // Among several, that export fails and the others are searched.
    WriteFile(dir / "other.xml", ReadFile(export_path));
    o = Cli({"-q", "-e", "helper", export_path, dir / "other.xml"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "reposearch: " + export_path + ": cannot create the log '" + link + "': it is a symbolic link\n");
    EXPECT_NE(ReadFile(dir / "other.log").find("CALL HELPER()"), std::string::npos);
    EXPECT_EQ(ReadFile(precious), "keep");
    EXPECT_TRUE(fs::is_symlink(link));
    // A link named with --log or --html is the user's choice: written where
    // it leads, and left a link.
    fs::create_symlink(dir / "real.html", dir / "page.html");
    o = Cli({"-q", "--log", link, "--html", dir / "page.html", export_path, "helper"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(ReadFile(precious).find("CALL HELPER()"), std::string::npos);
    EXPECT_EQ(ReadFile(dir / "real.html").rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_TRUE(fs::is_symlink(link) && fs::is_symlink(dir / "page.html"));
}
#endif

TEST_F(CliTest, AwkwardPathsAndBytes) {
    std::string odd = dir / "with space 'quote' \xC3\xA9.xml";
    const char bytes[] = "<TABLE XMLNS:UFORM>\n<OCC>\n<UFORM:UCODE>\x01\x02\0zz\nhit\xFF";
    WriteFile(odd, std::string(bytes, sizeof bytes - 1));
    Outcome o = Cli({"-q", odd, "HIT\xFF"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(ReadFile(dir / "with space 'quote' \xC3\xA9.log").find("Trigger:UCODE(   2) :: 'HIT\xFF'"),
              std::string::npos);
}

TEST_F(CliTest, WholeWordsWithW) {
    WriteFile(export_path, CrLf({"<TABLE XMLNS:UFORM>", "<OCC>", "<UFORM:UCODE>", "pcustno = custno_old",
                                 "x = custno", "</UFORM:UCODE>", "</OCC>", "</TABLE>"}));
    Outcome o = Cli({"-q", "-w", export_path, "custno"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.rfind("'CUSTNO' found 1 times\n", 0), 0u) << o.out;
    std::string log = ReadFile(dir / "export.log");
    EXPECT_EQ(log.find("PCUSTNO"), std::string::npos);
    EXPECT_NE(log.find("Trigger:UCODE(   2) :: 'X = CUSTNO'"), std::string::npos);
    EXPECT_EQ(Cli({"-qw", export_path, "custn"}).status, 1);
    EXPECT_EQ(Cli({"-q", export_path, "custno"}).out.rfind("'CUSTNO' found 2 times\n", 0), 0u);
}

TEST_F(CliTest, EmptyStringsCountWhereverTheyStand) {
    // Four data lines (the end tag's line is the fourth, empty); the empty
    // string matches each of them.
    for (std::vector<std::string> args : {std::vector<std::string>{""}, {"", "HELPER"}, {"HELPER", ""}}) {
        args.insert(args.begin(), {"-q", export_path});
        Outcome o = Cli(args);
        EXPECT_EQ(o.status, 0);
        EXPECT_NE(o.out.find("'' found 4 times\n"), std::string::npos) << o.out;
    }
}

TEST_F(CliTest, AStringWithLineBreaksIsSeveralStrings) {
    Outcome o = Cli({"-q", export_path, "entry\r\nhelper", "end\nnothing"});
    EXPECT_EQ(o.out.substr(0, o.out.find("\n\n")),
              "'ENTRY' found 1 times\n'HELPER' found 1 times\n'END' found 1 times\n'NOTHING' found 0 times");
    std::string log = ReadFile(dir / "export.log");
    EXPECT_NE(log.find("looking for:\r\nENTRY\r\nHELPER\r\nEND\r\nNOTHING\r\n\r\n"), std::string::npos) << log;
    // A final line break leaves an empty string behind, as in grep.
    EXPECT_NE(Cli({"-q", export_path, "nothing\n"}).out.find("'' found 4 times"), std::string::npos);
}

TEST_F(CliTest, AFileOfStringsKeepsACarriageReturnWithoutALineFeed) {
    std::string list = dir / "strings.txt";
    WriteFile(list, "CALL\r\nEND\r");
    Outcome o = Cli({"-q", "-f", list, export_path});
    EXPECT_EQ(o.out.substr(0, o.out.find("\n\n")), "'CALL' found 1 times\n'END\r' found 0 times");
}

TEST_F(CliTest, StandardInputAsTheExport) {
    const std::string exported = ReadFile(export_path);
    // The log on standard output, the summary on standard error.
    Outcome o = Cli({"-q", "-", "helper"}, exported);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.rfind("Starting search of file '(standard input)' on ", 0), 0u) << o.out;
    EXPECT_NE(o.out.find("Entry:CALC  Trigger:USOURCE(   2) :: '  CALL HELPER()'\r\n"), std::string::npos);
    EXPECT_EQ(o.err.rfind("'HELPER' found 1 times\n", 0), 0u) << o.err;
    // The log in a file: the summary goes to standard output again.
    o = Cli({"-q", "--log", dir / "piped.log", "-", "helper"}, exported);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.rfind("'HELPER' found 1 times\n", 0), 0u) << o.out;
    EXPECT_NE(ReadFile(dir / "piped.log").find("CALL HELPER()"), std::string::npos);
    // Standard input cannot hold both the export and strings.
    EXPECT_EQ(Cli({"-q", "-", "-f", "-"}, exported).status, 2);
    EXPECT_EQ(Cli({"-q", "--json", "-", "helper"}, exported).status, 2);
}

TEST_F(CliTest, JsonTakesThePlaceOfTheSummary) {
    Outcome o = Cli({"-q", "--json", export_path, "helper"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out.rfind("{\"type\":\"begin\",", 0), 0u) << o.out;
    EXPECT_NE(o.out.find("\"data\":{\"text\":\"  call Helper()\"}"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("{\"type\":\"end\",\"data\":{\"outcome\":\"completed\",\"lines\":10,"), std::string::npos);
    EXPECT_NE(ReadFile(dir / "export.log").find("CALL HELPER()"), std::string::npos);
    // A failed run still ends its records, and says why on standard error.
    o = Cli({"-q", "--json", dir / "missing.xml", "helper"});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.out.find("\"outcome\":\"export_not_opened\""), std::string::npos) << o.out;
    EXPECT_EQ(o.err.rfind("reposearch: " + (dir / "missing.xml") + ": cannot open the export: ", 0), 0u) << o.err;
    EXPECT_EQ(Cli({"-q", "--json", "--log", "-", export_path, "helper"}).status, 2);
}

TEST_F(CliTest, CountsOrNamesTakeThePlaceOfTheSummary) {
    // "entry calc" holds two of the strings: one line.
    Outcome o = Cli({"-q", "-c", export_path, "entry", "calc", "helper"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, export_path + ":2\t1\t1\t1\n");
    EXPECT_EQ(o.err, "");
    EXPECT_NE(ReadFile(dir / "export.log").find("'HELPER' found 1 times"), std::string::npos);
    o = Cli({"-q", "--count", export_path, "absent"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, export_path + ":0\n");
    // -l names an export with a hit, and wins over -c.
    EXPECT_EQ(Cli({"-ql", export_path, "helper"}).out, export_path + "\n");
    o = Cli({"-qcl", export_path, "absent"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    // An export that cannot be searched gets no line.
    o = Cli({"-q", "-c", dir / "missing.xml", "x"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find("cannot open the export"), std::string::npos);
    // Standard output is theirs alone.
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"-c", "--json", export_path, "x"}, "-c and --json both want standard output"},
        {{"-l", "--print", export_path, "x"}, "-l and --print both want standard output"},
        {{"-c", "--log", "-", export_path, "x"}, "-c and --log - both want standard output"},
        {{"-l", "-", "x"}, "-l with - as the export needs --log FILE"}};
    for (const auto& [args, says] : refused) {
        o = Cli(args);
        EXPECT_EQ(o.status, 2);
        EXPECT_EQ(o.err.rfind("reposearch: " + says + "\n", 0), 0u) << o.err;
    }
}

TEST_F(CliTest, Utf16ExportsAreSearched) {
    std::string text = ReadFile(export_path), utf16 = "\xFF\xFE";
    for (char c : text) utf16 += std::string{c, '\0'};
    std::string path = dir / "wide.xml";
    WriteFile(path, utf16);
    Outcome o = Cli({"-q", path, "helper"});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(ReadFile(dir / "wide.log").find("Entry:CALC  Trigger:USOURCE(   2) :: '  CALL HELPER()'"),
              std::string::npos);
}

TEST_F(CliTest, TheSampleWithoutAByteOrderMarkOrWithLoneCarriageReturns) {
    const std::string sample = ReadFile(SAMPLE_EXPORT);
    auto summary = [&](const std::string& name, const std::string& bytes) {
        WriteFile(dir / name, bytes);
        return Cli({"-q", dir / name, "custno", "calc_discount("});
    };
    const Outcome plain = summary("plain.xml", sample);
    ASSERT_EQ(plain.status, 0);
    auto counts = [](const Outcome& o) { return o.out.substr(0, o.out.find("\n\n")); };
    // UTF-16 of either byte order without a mark reads as with one.
    for (bool big : {false, true}) {
        std::string wide;
        for (char c : sample) wide += big ? std::string{'\0', c} : std::string{c, '\0'};
        const Outcome o = summary(big ? "be.xml" : "le.xml", wide);
        EXPECT_EQ(counts(o), counts(plain)) << big;
        EXPECT_EQ(o.err, "");
    }
    // Lines that end in CR alone read as one line: said on standard error.
    std::string cr = sample;
    for (std::size_t at; (at = cr.find("\r\n")) != std::string::npos;) cr.erase(at + 1, 1);
    const Outcome o = summary("cr.xml", cr);
    EXPECT_NE(o.err.find("cr.xml: warning: its lines end in a carriage return alone"), std::string::npos) << o.err;
    EXPECT_EQ(plain.err, "");
}

// --check tells each kind of place the reading rules lose or misplace text,
// with its first places, as text and as JSON; a clean export has none. It
// searches nothing and writes no log.
TEST_F(CliTest, CheckTellsWhatTheReadingCannotSee) {
    const std::string odd = dir / "odd.xml";
    WriteFile(odd, CrLf({"<TABLE xmlns:UXGROUP=\"u\">", "<OCC>", "<UXGROUP:Label>T1</UXGROUP:Label>",
                         "<UXGROUP:UCODE>custno</UXGROUP:UCODE></OCC>", "<OCC><UXGROUP:UCODE>custno</UXGROUP:UCODE>",
                         "<UXGROUP:UCODE", "a=\"b\">x</UXGROUP:UCODE>", "<UXGROUP:UCODE a=\"x>y\"/>", "line", "</OCC>",
                         "</TABLE>"}));
    Outcome o = Cli({"--check", odd});
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_EQ(o.out, odd + ": 4 places where the reading loses or misplaces text\n"
                     "  text holding a tag that is not read: 2\n"
                     "    " + odd + ":4: after </UXGROUP:UCODE> the rest of the line is not read: </OCC>\n"
                     "    " + odd + ":6: no \">\" ends the start tag on its line, so nothing opens and the line is not read: "
                     "<UXGROUP:UCODE\n"
                     "  elements taken for context elements by a part of a name: 1\n"
                     "    " + odd + ":3: <UXGROUP:Label> is taken for ULABEL: its value is stored as Table: and not searched\n"
                     "  an element open to the end of the export: 1\n"
                     "    " + odd + ":8: <UXGROUP:UCODE a=\"x> never ends: the 3 lines after it are read as its data\n");
    EXPECT_FALSE(testutil::fs::exists(dir / "odd.log"));
    o = Cli({"--check", "--json", export_path, odd, dir / "missing.xml"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out.rfind("{\"type\":\"check\",\"data\":{\"export\":{\"text\":\"" + export_path +
                              "\"},\"outcome\":\"completed\",\"lines\":10,\"findings\":[{\"kind\":\"unread_tag\","
                              "\"count\":0,\"places\":[]},",
                          0),
              0u)
        << o.out;
    EXPECT_NE(o.out.find("{\"kind\":\"never_closed\",\"count\":1,\"places\":[{\"line\":8,"), std::string::npos);
    EXPECT_NE(o.err.find("missing.xml: cannot open the export: "), std::string::npos) << o.err;
    EXPECT_EQ(Cli({"--check", export_path}).status, 0);
    EXPECT_EQ(Cli({"--check", export_path, "custno"}).status, 2);  // every operand an export: custno is none
}

TEST_F(CliTest, ShortAndLongHelp) {
    Outcome shorter = Cli({"-h"}), longer = Cli({"--help"});
    EXPECT_EQ(shorter.status, 0);
    EXPECT_EQ(longer.status, 0);
    EXPECT_EQ(shorter.out.rfind("usage: reposearch ", 0), 0u);
    EXPECT_EQ(longer.out.rfind("usage: reposearch ", 0), 0u);
    EXPECT_LT(shorter.out.size(), longer.out.size());
    // -h names every option --help does (groups such as -qw aside).
    static const std::regex option("(^|[ ,])(--[a-zA-Z][-a-zA-Z]*|-[a-zA-Z]\\b)");
    for (std::sregex_iterator it(longer.out.begin(), longer.out.end(), option), end; it != end; ++it) {
        if ((*it)[2] != "--option") {
            EXPECT_NE(shorter.out.find((*it)[2].str()), std::string::npos) << (*it)[2];
        }
    }
    EXPECT_EQ(Cli({"-qh"}).out, shorter.out);
}

TEST_F(CliTest, AnEmptyFileOfStringsFindsNothing) {
    WriteFile(dir / "none.txt", "");
    Outcome o = Cli({"-q", "--print", "-f", dir / "none.txt", export_path});
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_EQ(o.out, "");
    EXPECT_NE(ReadFile(dir / "export.log").find("looking for:\r\n\r\n\r\nEnding search"), std::string::npos);
    EXPECT_EQ(Cli({"-q", "-f", dir / "none.txt", "-e", "helper", export_path}).status, 0);
}

// Faults found by differential testing of the command line, one test each.

TEST_F(CliTest, PiecesOfAnOverlongLineAreOneLineOfTheExport) {
    // Line 4 is longer than a line is kept whole: it is searched in pieces,
    // each a line of its element, but it stays line 4 of the file.
    const std::string head = CrLf({"<TABLE XMLNS:UFORM>", "<OCC>", "<UFORM:UCODE>"});
    const std::string overlong = std::string((std::size_t{16} << 20) + 100, 'x') + " custno";
    WriteFile(export_path, head + overlong + "\r\n" + CrLf({"custno", "</UFORM:UCODE>", "</OCC>", "</TABLE>"}));
    Outcome o = Cli({"-q", "--json", export_path, "custno"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("{\"export_line\":4,\"byte_offset\":" + std::to_string(head.size()) +
                         ",\"element\":{\"text\":\"UCODE\"},\"element_line\":2,"),
              std::string::npos)
        << o.out.substr(0, 300);
    EXPECT_NE(o.out.find("{\"export_line\":5,\"byte_offset\":" + std::to_string(head.size() + overlong.size() + 2) +
                         ",\"element\":{\"text\":\"UCODE\"},\"element_line\":3,"),
              std::string::npos);
    EXPECT_NE(o.out.find("\"outcome\":\"completed\",\"lines\":8,"), std::string::npos);
}

TEST_F(CliTest, EveryJsonRecordListsTheStringTheSearchUsed) {
    const std::string longer(1200, 'Q');
    Outcome o = Cli({"-q", "--json", export_path, longer});
    const std::string whole = "{\"text\":\"" + longer + "\"}";
    EXPECT_NE(o.out.find("\"strings\":[" + whole + "]}}\n"), std::string::npos);
}

TEST_F(CliTest, AFailedRunListsEveryStringWithZero) {
    Outcome o = Cli({"-q", "--json", "--log", dir / "no/such/dir.log", export_path, "helper", "calc"});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.out.find("\"outcome\":\"log_incomplete\",\"lines\":0,\"counts\":[{\"string\":{\"text\":\"HELPER\"},"
                         "\"count\":0},{\"string\":{\"text\":\"CALC\"},\"count\":0}]}}"),
              std::string::npos)
        << o.out;
}

TEST_F(CliTest, StringFilesAreReadAsTheExportIs) {
    std::string utf8 = dir / "utf8.txt", utf16 = dir / "utf16.txt", bare = dir / "bare.txt", big = dir / "big.txt";
    WriteFile(utf8, "\xEF\xBB\xBFhelper\r\ncalc\r\n");  // as Notepad saves it
    std::string wide, wide_big;
    for (char c : std::string("helper\r\n")) wide += std::string{c, '\0'}, wide_big += std::string{'\0', c};
    WriteFile(utf16, "\xFF\xFE" + wide);
    WriteFile(bare, wide);  // no byte-order mark, as some tools write it
    WriteFile(big, wide_big);
    for (const std::string& list : {utf8, utf16, bare, big}) {
        Outcome o = Cli({"-q", "--file=" + list, export_path});
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.out.rfind("'HELPER' found 1 times\n", 0), 0u) << o.out;
    }
}

#ifndef _WIN32
TEST_F(CliTest, WhatCannotBePrintedFailsTheRun) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-q", export_path, "helper"}, {"--help"}, {"--version"},
          {"-q", "-e", "helper", export_path, export_path}}) {
        std::string cmd = std::string(REPOSEARCH_BIN);
        for (const std::string& a : args) cmd += " " + testutil::ShellQuote(a);
        cmd += " >/dev/full 2>" + testutil::ShellQuote(dir / "err");
        const int raw = std::system(cmd.c_str());
        EXPECT_EQ(WEXITSTATUS(raw), 2) << cmd;
        EXPECT_NE(ReadFile(dir / "err").find("reposearch: writing"), std::string::npos) << ReadFile(dir / "err");
    }
}
#endif

TEST_F(CliTest, TheHelpSaysHowAStringMayStartWithADash) {
    Outcome o = Cli({"--help"});
    EXPECT_NE(o.out.find("A string that starts with - is given with -e, or after --."), std::string::npos);
    EXPECT_EQ(Cli({"-q", "-e", "-X", export_path}).status, 1);
}

}  // namespace
