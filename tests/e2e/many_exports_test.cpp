// Many exports in one run, end to end through the command line: folders,
// failures among them, the order of what they print whatever order they
// finish in, the one log, the totals and the exit status.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <thread>

#include "test_util.h"

namespace {

using testutil::CrLf;
using testutil::Outcome;
using testutil::ReadFile;
using testutil::WriteFile;

// An export whose UCODE element holds `code`, one data line each.
std::string Export(std::initializer_list<std::string> code) {
    std::vector<std::string> lines = {"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:ULABEL>orders</UXGROUP:ULABEL>",
                                      "<UXGROUP:UCODE>"};
    lines.insert(lines.end(), code.begin(), code.end());
    lines.insert(lines.end(), {"</UXGROUP:UCODE>", "</OCC>", "</TABLE>"});
    std::string out;
    for (const std::string& l : lines) out += l + "\r\n";
    return out;
}

std::string Masked(const std::string& text) {
    static const std::regex stamp("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}");
    return std::regex_replace(text, stamp, "TIME");
}

class ManyExports : public ::testing::Test {
protected:
    testutil::TempDir dir;
    Outcome Cli(const std::vector<std::string>& args, const std::string& input = "") {
        return testutil::RunProgram(REPOSEARCH_BIN, args, dir, input);
    }
};

TEST_F(ManyExports, AFolderIsSearchedForXmlFilesNestedAndSorted) {
    const std::string cyrillic = "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82\xD1\x8B";
    testutil::fs::create_directories(dir / ("exports/" + cyrillic));
    testutil::fs::create_directories(dir / "exports/sub/empty");
    WriteFile(dir / "exports/b.xml", Export({"call custno", "custno = 1"}));
    WriteFile(dir / "exports/sub/A.XML", Export({"x = custno"}));
    WriteFile(dir / ("exports/" + cyrillic + "/r.xml"), Export({"none"}));
    WriteFile(dir / "exports/notes.txt", Export({"custno"}));  // not an export
    Outcome o = Cli({"-q", "-e", "custno", "-e", "calc", dir / "exports"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    const std::string e = dir / "exports";
    EXPECT_EQ(o.out, "'" + e + "/b.xml', log '" + e + "/b.log':\n'CUSTNO' found 2 times\n'CALC' found 0 times\n\n"
                     "'" + e + "/sub/A.XML', log '" + e + "/sub/A.log':\n'CUSTNO' found 1 times\n'CALC' found 0 times\n\n"
                     "'" + e + "/" + cyrillic + "/r.xml', log '" + e + "/" + cyrillic + "/r.log':\n"
                     "'CUSTNO' found 0 times\n'CALC' found 0 times\n\n"
                     "Totals over 3 exports (3 completed, 0 failed):\n'CUSTNO' found 3 times\n'CALC' found 0 times\n");
    // Each log as a search of that export alone writes it.
    EXPECT_NE(ReadFile(e + "/sub/A.log").find("Table:ORDERS  Trigger:UCODE(   1) :: 'X = CUSTNO'\r\n"),
              std::string::npos);
    EXPECT_FALSE(testutil::fs::exists(e + "/notes.log"));
    // A folder of one export still has its totals, of one export.
    o = Cli({"-q", "-e", "custno", e + "/sub"});
    EXPECT_NE(o.out.find("\nTotals over 1 export (1 completed, 0 failed):\n"), std::string::npos) << o.out;

    // A folder without exports is named; the status is the others' ...
    const std::string empty = dir / "exports/sub/empty";
    o = Cli({"-q", "-e", "custno", empty, e + "/b.xml"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "reposearch: " + empty + ": the folder holds no .xml file\n");
    o = Cli({"-q", "-e", "absent", empty, e + "/b.xml"});
    EXPECT_EQ(o.status, 1);
    // ... unless nothing was searched at all.
    o = Cli({"-q", "-e", "custno", empty});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "reposearch: " + empty + ": the folder holds no .xml file\nreposearch: no export to search\n");
    o = Cli({"-q", "--json", "-e", "custno", empty});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "{\"type\":\"summary\",\"data\":{\"exports\":0,\"completed\":0,\"failed\":0,\"counts\":"
                     "[{\"string\":{\"text\":\"CUSTNO\"},\"count\":0}]}}\n");
}

TEST_F(ManyExports, OneFailingExportLeavesTheOthersSearchedAndGivesTwo) {
    WriteFile(dir / "a.xml", Export({"custno"}));
    WriteFile(dir / "c.xml", Export({"custno", "custno"}));
    Outcome o = Cli({"-q", "-e", "custno", dir / "a.xml", dir / "missing.xml", dir / "c.xml"});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.out.find("'" + (dir / "missing.xml") + "', log '" + (dir / "missing.log") +
                         "', failed: cannot open the export: No such file or directory\n\n"),
              std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("Totals over 3 exports (2 completed, 1 failed):\n'CUSTNO' found 3 times\n"),
              std::string::npos)
        << o.out;
    // The failure names its export on standard error.
    EXPECT_EQ(o.err, "reposearch: " + (dir / "missing.xml") + ": cannot open the export: No such file or directory\n");
    EXPECT_NE(ReadFile(dir / "c.log").find("'CUSTNO' found 2 times"), std::string::npos);
    // A log that cannot be created: the summary and the message say why.
    testutil::fs::remove(dir / "c.log");
    testutil::fs::create_directory(dir / "c.log");
    o = Cli({"-q", "-e", "custno", dir / "a.xml", dir / "c.xml"});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.out.find("'" + (dir / "c.xml") + "', failed: cannot create the log '" + (dir / "c.log") +
                         "': Is a directory\n\n"),
              std::string::npos)
        << o.out;
    EXPECT_EQ(o.err, "reposearch: " + (dir / "c.xml") + ": cannot create the log '" + (dir / "c.log") +
                         "': Is a directory\n");
    testutil::fs::remove(dir / "c.log");
    // Nothing found anywhere and nothing failed: 1.
    EXPECT_EQ(Cli({"-q", "-e", "absent", dir / "a.xml", dir / "c.xml"}).status, 1);
}

// The first export comes through a pipe that stays silent for a while, so
// that the second one finishes first: what they print still comes in the
// order they were given.
TEST_F(ManyExports, OutputComesInTheOrderGivenWhateverFinishesFirst) {
    const std::string first = Export({"custno first"}), second = Export({"custno second", "custno again"});
    WriteFile(dir / "second.xml", second);
    const std::string pipe = dir / "first.xml";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::thread slow([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        WriteFile(pipe, first);
    });
    Outcome o = Cli({"-q", "-j", "2", "--json", "--log", dir / "all.log", "-e", "custno", pipe, dir / "second.xml"});
    slow.join();
    EXPECT_EQ(o.status, 0) << o.err;
    // The records: each export's in turn, then the summary.
    std::vector<std::string> kinds;
    std::smatch m;
    for (std::string rest = o.out; std::regex_search(rest, m, std::regex("\"type\":\"(\\w+)\"")); rest = m.suffix())
        kinds.push_back(m[1]);
    EXPECT_EQ(kinds, (std::vector<std::string>{"begin", "match", "end", "begin", "match", "match", "end", "summary"}));
    EXPECT_LT(o.out.find("custno first"), o.out.find("custno second"));
    EXPECT_NE(o.out.find("{\"type\":\"summary\",\"data\":{\"exports\":2,\"completed\":2,\"failed\":0,\"counts\":"
                         "[{\"string\":{\"text\":\"CUSTNO\"},\"count\":3}]}}\n"),
              std::string::npos)
        << o.out;

    // The one log holds each export's log, in the same order, each as a run
    // of that export alone writes it.
    WriteFile(dir / "first-again.xml", first);
    ASSERT_EQ(Cli({"-q", "--log", dir / "one.log", dir / "first-again.xml", "custno"}).status, 0);
    ASSERT_EQ(Cli({"-q", "--log", dir / "two.log", dir / "second.xml", "custno"}).status, 0);
    std::string expected = ReadFile(dir / "one.log") + ReadFile(dir / "two.log");
    expected = std::regex_replace(expected, std::regex("first-again"), "first");
    expected = std::regex_replace(expected, std::regex("one\\.log|two\\.log"), "all.log");
    EXPECT_EQ(Masked(ReadFile(dir / "all.log")), Masked(expected));
}

TEST_F(ManyExports, LogsThatWouldMeetAreNamedApart) {
    // a.b.xml and a.c.xml both give a.log; an export named a.log would be
    // replaced by it.
    WriteFile(dir / "a.b.xml", Export({"custno b"}));
    WriteFile(dir / "a.c.xml", Export({"custno c"}));
    Outcome o = Cli({"-q", "-e", "custno", dir / "a.b.xml", dir / "a.c.xml"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(ReadFile(dir / "a.log").find("CUSTNO B"), std::string::npos);
    EXPECT_NE(ReadFile(dir / "a.c.xml.log").find("CUSTNO C"), std::string::npos);
    EXPECT_NE(o.out.find("log '" + (dir / "a.c.xml.log") + "'"), std::string::npos) << o.out;

    const std::string export_named_like_a_log = Export({"custno log"});
    WriteFile(dir / "x.log", export_named_like_a_log);
    WriteFile(dir / "x.xml", Export({"custno xml"}));
    o = Cli({"-q", "-e", "custno", dir / "x.log", dir / "x.xml"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(ReadFile(dir / "x.log"), export_named_like_a_log);
    EXPECT_NE(ReadFile(dir / "x.xml.log").find("CUSTNO XML"), std::string::npos);

    // No name left: the message says which name each rule gave and what
    // holds it.
    WriteFile(dir / "x", Export({"custno bare"}));
    o = Cli({"-q", "-e", "custno", dir / "x.log", dir / "x"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "reposearch: " + (dir / "x") + ": no name is left for its log: '" + (dir / "x.log") +
                         "' is the export '" + (dir / "x.log") + "'\n");
    EXPECT_NE(o.out.find("'" + (dir / "x") + "', failed: no name is left for its log: "), std::string::npos)
        << o.out;
    // It has its records too, with its outcome, in its turn.
    o = Cli({"-q", "--json", "-e", "custno", dir / "x", dir / "x.log"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out.substr(0, o.out.find("\n{\"type\":\"begin\"", 1) + 1),
              "{\"type\":\"begin\",\"data\":{\"export\":{\"text\":\"" + (dir / "x") +
                  "\"},\"strings\":[{\"text\":\"CUSTNO\"}]}}\n"
                  "{\"type\":\"end\",\"data\":{\"outcome\":\"log_incomplete\",\"lines\":0,\"counts\":"
                  "[{\"string\":{\"text\":\"CUSTNO\"},\"count\":0}]}}\n")
        << o.out;
    EXPECT_NE(o.out.find("\"summary\",\"data\":{\"exports\":2,\"completed\":1,\"failed\":1,"), std::string::npos);
    WriteFile(dir / "a.c.xml.log", Export({"custno"}));
    o = Cli({"-q", "-e", "custno", dir / "a.b.xml", dir / "a.c.xml.log", dir / "a.c.xml"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "reposearch: " + (dir / "a.c.xml") + ": no name is left for its log: '" + (dir / "a.log") +
                         "' is the log of '" + (dir / "a.b.xml") + "' and '" + (dir / "a.c.xml.log") +
                         "' the export '" + (dir / "a.c.xml.log") + "'\n");

    // --log naming one of the exports is refused before anything is written.
    o = Cli({"-q", "--log", dir / "x.xml", "-e", "custno", dir / "a.b.xml", dir / "x.xml"});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("the log would replace the export"), std::string::npos) << o.err;
}

TEST_F(ManyExports, StandardInputAmongThemLogsToStandardOutput) {
    WriteFile(dir / "a.xml", Export({"custno a"}));
    Outcome o = Cli({"-q", "-e", "custno", dir / "a.xml", "-"}, Export({"custno piped"}));
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.rfind("Starting search of file '(standard input)' on ", 0), 0u) << o.out;
    EXPECT_NE(o.out.find("CUSTNO PIPED"), std::string::npos);
    EXPECT_NE(o.err.find("Totals over 2 exports (2 completed, 0 failed):\n'CUSTNO' found 2 times\n"),
              std::string::npos)
        << o.err;
    EXPECT_EQ(Cli({"-q", "-e", "x", "-", "-"}).status, 2);  // read once
    EXPECT_EQ(Cli({"-q", "--json", "-e", "x", dir / "a.xml", "-"}).status, 2);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Runs the program with its outputs thrown away: its exit status and the
// most memory it held, in KiB.
std::pair<int, long> StatusAndPeak(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::string program = REPOSEARCH_BIN;
    argv.push_back(program.data());
    std::vector<std::string> copies(args);
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int raw = 0;
    struct rusage usage {};
    wait4(pid, &raw, 0, &usage);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, usage.ru_maxrss};
}

// The page of several exports searched at once holds the first hits in the
// order of the exports, as one search at a time gives it, and the run keeps
// about one page's worth of hits, not one for each export.
TEST_F(ManyExports, ThePageHoldsTheFirstHitsWhateverFinishesFirst) {
    std::string lines;
    for (int i = 0; i < 256000; ++i) lines += "call x(custno, invoice_total, discount_rate)\r\n";
    std::vector<std::string> args = {"-e", "call"};
    for (int k = 0; k < 8; ++k) {
        const std::string name = dir / ("e" + std::to_string(k) + ".xml");
        WriteFile(name, "<TABLE XMLNS:UXGROUP>\r\n<OCC>\r\n<UXGROUP:UCODE>\r\n" + lines +
                            "</UXGROUP:UCODE>\r\n</OCC>\r\n</TABLE>\r\n");
        args.push_back(name);
    }
    auto page = [&](const std::string& jobs) {
        std::vector<std::string> a = {"-q", "-j", jobs, "--html", dir / "page.html"};
        a.insert(a.end(), args.begin(), args.end());
        const auto [status, peak] = StatusAndPeak(a);
        EXPECT_EQ(status, 0);
        // About 35 MiB one at a time, 70 four at a time; each export's hits kept took 150 and 210.
        // (A sanitizer's own memory would hide it.)
        if (!kSanitized) {
            EXPECT_LT(peak, 100 * 1024) << "KiB with -j " << jobs;
        }
        static const std::regex started("\"started\":\"[^\"]*\"");
        return std::regex_replace(ReadFile(dir / "page.html"), started, "\"started\":\"\"");
    };
    const std::string one_at_a_time = page("1");
    EXPECT_NE(one_at_a_time.find("\"omitted\":56000}"), std::string::npos);
    EXPECT_EQ(page("4"), one_at_a_time);
}

TEST_F(ManyExports, OneExportGivenWithEIsSearchedAsAlways) {
    WriteFile(dir / "a.xml", Export({"custno"}));
    Outcome with_e = Cli({"-q", "--json", "-e", "custno", dir / "a.xml"});
    std::string log_with_e = ReadFile(dir / "a.log");
    Outcome plain = Cli({"-q", "--json", dir / "a.xml", "custno"});
    EXPECT_EQ(with_e.status, plain.status);
    EXPECT_EQ(with_e.out, plain.out);
    EXPECT_EQ(Masked(log_with_e), Masked(ReadFile(dir / "a.log")));
    EXPECT_EQ(with_e.out.find("\"summary\""), std::string::npos);
}

}  // namespace
