// Whole runs: the log byte for byte, its name, progress and the failure paths.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <random>

#include "differential/differential.h"
#include "differential/random_export.h"
#include "json_writer.h"
#include "test_util.h"

namespace {

// The match lines of a log: from after the header to the ending message.
std::string MatchLines(const std::string& log, const std::string& list) {
    std::size_t body = log.find("looking for:\r\n") + 14 + list.size() + 4;
    std::size_t end = log.find("\r\nEnding search of file");
    if (end == std::string::npos || body > end) return "(no ending: " + log + ")";
    return log.substr(body, end - body);
}

std::string Joined(const std::vector<std::string>& strings) {
    std::string list;
    for (const std::string& s : strings) list += (list.empty() ? "" : "\r\n") + s;
    return list;
}

// The match lines the reference reading writes.
std::string ReferenceLines(const std::vector<std::string>& strings, const std::string& text) {
    return reference::Read(text, {strings}).log;
}

using testutil::CrLf;
using testutil::ReadFile;
using testutil::WriteFile;

const std::string kExport = CrLf({
    "<TABLE xmlns:UXGROUP=\"urn:x\">",
    "  <OCC>",
    "    <UXGROUP:ULABEL>Customers</UXGROUP:ULABEL>",
    "    <UXGROUP:UBASE>SalesModel</UXGROUP:UBASE>",
    "    <UXGROUP:UCODE>call foo_init()",
    "",
    "   endif",
    "   foo_done()</UXGROUP:UCODE>",
    "  </OCC>",
    "</TABLE>",
});

class SearchRunTest : public ::testing::Test {
protected:
    testutil::TempDir dir;
    testutil::RecordingDisplay display;
    testutil::FixedClock clock;
    RunInputs inputs;
    RunSeams seams;
    void SetUp() override { seams.clock = clock.fn(); }
    RunResult Run(const std::string& strings, const std::string& export_path) {
        inputs.srch_string = strings;
        inputs.srchfilename = export_path;
        return Quelvar(display, inputs, seams);
    }
};

TEST_F(SearchRunTest, CompleteLogByteForByte) {
    std::string path = dir / "export.xml";
    WriteFile(path, kExport);
    RunResult r = Run("FOO\r\n\r\nBAR\r\n", path);
    std::string t = AscTime(testutil::kStart);
    std::string t_crlf = t.substr(0, t.size() - 1) + "\r\n";
    EXPECT_EQ(ReadFile(dir / "export.log"),
              "Starting search of file '" + path + "' on " + t_crlf +
                  "looking for:\r\nFOO\r\n\r\nBAR\r\n\r\n"
                  "Model:SALESMODEL  Table:CUSTOMERS  Trigger:UCODE(   1) :: 'CALL FOO_INIT()'\r\n"
                  "Model:SALESMODEL  Table:CUSTOMERS  Trigger:UCODE(   2) :: '   ENDIF'\r\n"
                  "Model:SALESMODEL  Table:CUSTOMERS  Trigger:UCODE(   3) :: '   FOO_DONE()'\r\n"
                  "\r\nEnding search of file '" + path + "' at " + t_crlf +
                  "Result Summary:\r\n'FOO' found 2 times\r\n'' found 3 times\r\n'BAR' found 0 times\r\n");
    ASSERT_EQ(display.boxes.size(), 1u);
    EXPECT_EQ(display.boxes[0].caption, "Result Summary");
    EXPECT_EQ(display.boxes[0].text,
              "'FOO' found 2 times\n'' found 3 times\n'BAR' found 0 times\n\n\n"
              "See full results in output file '" + (dir / "export.log") + "'\n");
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_TRUE(r.found);
    EXPECT_TRUE(r.log_complete);
    EXPECT_EQ(r.lines, 10u);
    EXPECT_EQ(ReadFile(path), kExport);
}

TEST_F(SearchRunTest, SeveralRunsInOneProcessStartClean) {
    std::string path = dir / "export.xml";
    WriteFile(path, kExport);
    Run("FOO", path);
    std::string first = ReadFile(dir / "export.log");
    Run("FOO", path);
    EXPECT_EQ(ReadFile(dir / "export.log"), first);
    EXPECT_EQ(display.boxes[0].text, display.boxes[1].text);
}

TEST(LogFileName, CutAtTheFirstDotOfTheFileName) {
    EXPECT_EQ(LogFileName("export.xml"), "export.log");
    EXPECT_EQ(LogFileName("../x.xml"), "../x.log");
    EXPECT_EQ(LogFileName("dir.old/EXPORT.XML.BAK"), "dir.old/EXPORT.log");
    EXPECT_EQ(LogFileName("dir.old/export"), "dir.old/export.log");
    // A name that starts with a dot keeps what follows it: two hidden
    // exports never share ".log".
    EXPECT_EQ(LogFileName("a/.hidden"), "a/.hidden.log");
    EXPECT_EQ(LogFileName("a/.hidden.xml"), "a/.hidden.log");
    EXPECT_EQ(LogFileName(".other.xml"), ".other.log");
    EXPECT_EQ(LogFileName("a/.xml"), "a/.xml.log");
    EXPECT_EQ(LogFileName("a/..x.y"), "a/..x.log");
#ifdef _WIN32
    EXPECT_EQ(LogFileName("C:\\DATA.OLD\\EXPORT.XML"), "C:\\DATA.OLD\\EXPORT.log");
    EXPECT_EQ(LogFileName("C:EXPORT.XML"), "C:EXPORT.log");
#else
    EXPECT_EQ(LogFileName("C:\\DATA.OLD\\EXPORT.XML"), "C:\\DATA.log");
#endif
}

TEST_F(SearchRunTest, LogNeverReplacesTheExport) {
    std::string path = dir / "repo.log";
    WriteFile(path, kExport);
    RunResult r = Run("FOO", path);
    EXPECT_EQ(ReadFile(path), kExport);
    EXPECT_EQ(r.logfilename, path + ".log");
    EXPECT_NE(ReadFile(path + ".log").find("'FOO' found 2 times"), std::string::npos);
}

TEST_F(SearchRunTest, GivenLogNamingTheExportIsRefused) {
    std::string path = dir / "export.xml";
    WriteFile(path, kExport);
    inputs.logfilename = path;
    RunResult r = Run("FOO", path);
    EXPECT_EQ(r.outcome, RunOutcome::LogNotOpened);
    EXPECT_EQ(ReadFile(path), kExport);
}

TEST_F(SearchRunTest, ExportThatCannotBeOpenedSaysSoInLogAndBox) {
    for (std::string path : {dir / "missing.xml", dir.path.string()}) {
        inputs.logfilename = dir / "out.log";
        display.boxes.clear();
        RunResult r = Run("A\r\nB", path);
        EXPECT_EQ(r.outcome, RunOutcome::ExportNotOpened);
        std::string t = AscTime(testutil::kStart);
        std::string sentence = "Unable to open search file '" + path + "'.  Search aborted at " + t;
        ASSERT_EQ(display.boxes.size(), 1u);
        EXPECT_EQ(display.boxes[0].text, sentence + "\n'A' found 0 times\n'B' found 0 times\n\n\n"
                                                    "See full results in output file '" +
                                             inputs.logfilename + "'\n");
        std::string log = ReadFile(inputs.logfilename);
        std::string crlf = sentence.substr(0, sentence.size() - 1) + "\r\n\r\n";
        EXPECT_NE(log.find("\r\nA\r\nB\r\n\r\n" + crlf + "Result Summary:\r\n"), std::string::npos)
            << log;
    }
}

TEST_F(SearchRunTest, LogThatCannotBeCreatedEndsTheRunBeforeAnything) {
    std::string path = dir / "export.xml";
    WriteFile(path, kExport);
    inputs.logfilename = dir / "no-such-folder/out.log";
    RunResult r = Run("FOO", path);
    EXPECT_EQ(r.outcome, RunOutcome::LogNotOpened);
    ASSERT_EQ(display.boxes.size(), 1u);
    EXPECT_EQ(display.boxes[0].caption, "Unable to Open Logfile");
    EXPECT_EQ(display.boxes[0].text, "Unable to open output file '" + inputs.logfilename +
                                         "'.  Search aborted at " + AscTime(testutil::kStart) + "\n");
    EXPECT_TRUE(display.calls.empty());
}

TEST_F(SearchRunTest, EmptyExportShowsNoProgressAndZeroCounts) {
    std::string path = dir / "empty.xml";
    WriteFile(path, "");
    RunResult r = Run("A", path);
    EXPECT_EQ(display.calls, std::vector<std::string>{"range 0 100"});
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(display.boxes.at(0).text.substr(0, 17), "'A' found 0 times");
}

TEST_F(SearchRunTest, ProgressUpdatesOncePerWholePercent) {
    std::string path = dir / "export.xml";
    std::string bytes;
    for (int i = 0; i < 200; ++i) bytes += "line\r\n";  // 200 equal lines: 0.5% each
    WriteFile(path, bytes);
    Run("A", path);
    ASSERT_EQ(display.calls.size(), 1u + 2 * 100);
    EXPECT_EQ(display.calls[1], "text Processed 2 lines");
    EXPECT_EQ(display.calls[2], "pos 1");
    EXPECT_EQ(display.calls[199], "text Processed 200 lines");
    EXPECT_EQ(display.calls[200], "pos 100");
}

TEST_F(SearchRunTest, RemainingTimeShownOnceThirtySecondsRemainThenAlways) {
    std::string path = dir / "export.xml";
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes += "line\r\n";
    WriteFile(path, bytes);
    clock.step = 1;  // one second passes at every reading of the clock
    Run("A", path);
    // Update k reads the clock at kStart + k: after 1% and 1 s, 99 s remain.
    EXPECT_EQ(display.calls[2], "time Estimated time remaining: 1 min 39 sec");
    EXPECT_EQ(display.calls.back(), "pos 100");
    EXPECT_EQ(display.calls[display.calls.size() - 2], "time Estimated time remaining: 0 min 0 sec");

    // Fast runs never show it.
    display.calls.clear();
    clock.step = 0;
    Run("A", path);
    for (const std::string& c : display.calls) EXPECT_NE(c.rfind("time", 0), 0u) << c;
}

TEST_F(SearchRunTest, ReadErrorStopsTheRunAndSaysWhere) {
    std::string path = dir / "export.xml";
    WriteFile(path, kExport);
    int calls = 0;
    seams.read_block = [&](std::FILE* f, char* dst, std::size_t n) -> std::int64_t {
        if (calls++ > 0) return -1;
        return static_cast<std::int64_t>(std::fread(dst, 1, n < 120 ? n : 120, f));
    };
    RunResult r = Run("FOO", path);
    EXPECT_EQ(r.outcome, RunOutcome::ReadError);
    std::string log = ReadFile(dir / "export.log");
    std::string ending = "Search of file '" + path + "' stopped by a read error after 4 lines at ";
    EXPECT_NE(log.find("\r\n\r\n" + ending), std::string::npos) << log;
    EXPECT_EQ(display.boxes.at(0).text.rfind(ending, 0), 0u) << display.boxes[0].text;

    // Read at offsets: a block claimed and then not read whole ends the
    // export there, a read error too, on whichever thread read it.
    std::string lines;
    for (int i = 0; i < 400; ++i) lines += "  <UXGROUP:ULABEL>FOO " + std::to_string(i) + "</UXGROUP:ULABEL>\n";
    WriteFile(path, "<TABLE>\n<OCC>\n" + lines + "</OCC>\n</TABLE>\n");
    seams.read_block = nullptr;
    seams.block_sizes = {256, 512, 64};
    seams.read_at = [](std::FILE* f, char* dst, std::size_t n, std::uint64_t offset) -> std::int64_t {
        if (offset >= 6000 && n > 64) return -1;  // the window is read, the block is not
        if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) return -1;
        return static_cast<std::int64_t>(std::fread(dst, 1, n, f));
    };
    inputs.single_thread = true;  // the seam's fseek and fread are one thread's
    r = Run("FOO", path);
    EXPECT_EQ(r.outcome, RunOutcome::ReadError);
    EXPECT_GT(r.lines, 100u);
    EXPECT_LT(r.lines, 400u);
    EXPECT_EQ(display.boxes.back().text.rfind("Search of file '" + path + "' stopped by a read error after ", 0), 0u)
        << display.boxes.back().text;
}

// Counts the hits, and at the n-th raises the run's flag, or answers that
// the run should stop (as a sink whose reader went away does).
struct RaisingSink final : HitSink {
    std::atomic<bool>* flag = nullptr;
    bool answer = false;
    std::uint64_t at = 0, hits = 0;
    bool OnHit(const Hit&) override {
        if (++hits != at) return true;
        if (!answer) flag->store(true);
        return !answer;
    }
};

// A run whose flag is raised stops where the progress may change next (and
// at least every few megabytes): the log holds the hits before and ends with
// the line that says where. Where it stops depends on where the flag was
// raised, not on the threads.
TEST_F(SearchRunTest, AnInterruptedRunEndsItsLogSayingWhere) {
    std::string text;
    // Big enough for several blocks: the flag is looked at between them.
    for (int occ = 0; occ < 8000; ++occ) {
        text += "<TABLE XMLNS:UFORM>\r\n<OCC>\r\n<UFORM:UCODE>\r\n";
        for (int line = 0; line < 100; ++line) text += line % 10 ? "x = 1\r\n" : "call foo\r\n";
        text += "</UFORM:UCODE>\r\n</OCC>\r\n</TABLE>\r\n";
    }
    const std::string path = dir / "export.xml";
    WriteFile(path, text);
    std::atomic<bool> flag{false};
    inputs.cancel = &flag;
    const std::string ending = "\r\n\r\nSearch of file '" + path + "' interrupted after ";

    // Never raised: the run and its log are those of a run without a flag.
    RunResult r = Run("FOO", path);
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    const std::string whole = ReadFile(dir / "export.log");
    inputs.cancel = nullptr;
    Run("FOO", path);
    EXPECT_EQ(ReadFile(dir / "export.log"), whole);
    inputs.cancel = &flag;

    for (std::uint64_t raise_at : {0, 5000, 15000}) {
        std::string first_log;
        RunResult first;
        for (int mode = 0; mode < 3; ++mode) {  // one thread, two, two at another pace
            inputs.single_thread = mode == 0;
            seams.pause = mode == 2 ? differential::PauseAtRandom(raise_at + 1) : nullptr;
            flag.store(raise_at == 0);
            RaisingSink sink;
            sink.flag = &flag;
            sink.answer = mode == 1;  // the two roads to a stop end alike
            sink.at = raise_at;
            inputs.sink = &sink;
            display.boxes.clear();
            r = Run("FOO", path);
            inputs.sink = nullptr;
            ASSERT_EQ(r.outcome, RunOutcome::Interrupted) << raise_at;
            EXPECT_EQ(OutcomeName(r), "interrupted");
            EXPECT_TRUE(r.log_complete);
            EXPECT_GE(static_cast<std::uint64_t>(r.counts.at(0).count), raise_at);
            EXPECT_LT(r.counts[0].count, 80000);
            EXPECT_EQ(sink.hits, static_cast<std::uint64_t>(r.counts[0].count));
            const std::string log = ReadFile(dir / "export.log");
            const std::string last = ending + std::to_string(r.lines) + " lines at " +
                                     AscTime(testutil::kStart).substr(0, 24) + "\r\n";
            ASSERT_GE(log.size(), last.size());
            EXPECT_EQ(log.substr(log.size() - last.size()), last);
            // The hits before the stop, as the whole run wrote them.
            const std::size_t hits_end = log.size() - last.size() + 2;
            EXPECT_EQ(whole.compare(0, hits_end, log, 0, hits_end), 0) << raise_at;
            EXPECT_EQ(log.find("Result Summary"), std::string::npos);
            ASSERT_EQ(display.boxes.size(), 1u);
            EXPECT_EQ(display.boxes[0].caption, "Search Interrupted");
            EXPECT_EQ(display.boxes[0].text, last.substr(4, last.size() - 6) + "\nThe hits found before are in output file '" +
                                                 (dir / "export.log") + "'\n");
            if (mode == 0) {
                first = r;
                first_log = log;
            }
            EXPECT_EQ(r.lines, first.lines) << raise_at << ", mode " << mode;
            EXPECT_EQ(log, first_log) << raise_at << ", mode " << mode;
        }
    }
}

TEST_F(SearchRunTest, FailedLogWritesAreReported) {
#ifndef _WIN32
    std::string path = dir / "export.xml";
    WriteFile(path, kExport);
    inputs.logfilename = "/dev/full";
    RunResult r = Run("FOO", path);
    EXPECT_FALSE(r.log_complete);
    EXPECT_NE(display.boxes.at(0).text.find("Writing to output file '/dev/full' failed: the log is "
                                            "incomplete."),
              std::string::npos);
#else
    GTEST_SKIP() << "needs /dev/full";
#endif
}

TEST_F(SearchRunTest, ProgressBeyondFourGigabytes) {
    // Five GiB of 1 MiB lines, made up as they are read.
    constexpr std::uint64_t kLine = 1 << 20, kSize = std::uint64_t{5} << 30;
    std::string path = dir / "huge.xml";
    WriteFile(path, "");
    std::uint64_t produced = 0;
    seams.read_block = [&](std::FILE*, char* dst, std::size_t n) -> std::int64_t {
        std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, kSize - produced));
        std::memset(dst, 'x', take);
        for (std::uint64_t lf = produced / kLine * kLine + kLine - 1; lf < produced + take; lf += kLine)
            dst[lf - produced] = '\n';
        produced += take;
        return static_cast<std::int64_t>(take);
    };
    inputs.export_size = kSize;
    RunResult r = Run("A", path);
    EXPECT_EQ(r.lines, kSize / kLine);
    std::vector<std::string> positions, texts;
    for (const std::string& c : display.calls) {
        if (c.rfind("pos ", 0) == 0) positions.push_back(c);
        if (c.rfind("text ", 0) == 0) texts.push_back(c);
    }
    ASSERT_EQ(positions.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(positions[i], "pos " + std::to_string(i + 1));
    EXPECT_EQ(texts.front(), "text Processed 52 lines");  // 1% of 5,120 lines, rounded up
    EXPECT_EQ(texts.back(), "text Processed 5120 lines");
}

TEST(AscTime, StandardLayout) {
    std::string t = AscTime(testutil::kStart);
    ASSERT_EQ(t.size(), 25u);
    EXPECT_EQ(t.back(), '\n');
    EXPECT_EQ(t[3], ' ');
    EXPECT_EQ(t[7], ' ');
    EXPECT_EQ(t.substr(20, 4), "2026");
}

}  // namespace

namespace {

// The run skips lines in bulk, marks the blocks it reads (on a second thread
// or not) and tests only some lines for tags; none of that may change a byte
// of the log.
TEST_F(SearchRunTest, SkippingAheadWritesWhatTheReferenceWrites) {
    std::mt19937 rng(11);
    const std::vector<std::vector<std::string>> sets = {
        {"CUST_NO"}, {"X<Y", "ENDIF", "CALL"}, {"CALC_DISCOUNT", "INVOICE_TOTAL", "CUST_BALANCE", "SHIP_DATE",
        "VAT_RATE", "PRICE_LIST", "ORDER_STATE", "CREDIT_LIMIT", "STOCK_LEVEL", "PAY_TERMS"},
        {"=", "IF", "CALL", "CUST", "_NO", "ACCT", "ITEM", "MESSAGE"}};
    for (int round = 0; round < 8; ++round) {
        std::vector<std::string> strings = sets[round % sets.size()];
        if (round >= 4)  // many strings: the byte-pair search
            for (int i = 0; i < 40; ++i) strings.push_back("MADE_UP_" + std::to_string(i));
        const std::string list = Joined(strings);
        const std::string path = dir / ("random" + std::to_string(round) + ".xml");
        const std::string text = testutil::RandomExport(rng, (round % 2 ? 2200u : 40u) << 10, strings);
        WriteFile(path, text);
        const std::string expected = ReferenceLines(strings, text);
        EXPECT_GT(expected.size(), 0u);
        for (bool single : {false, true}) {
            inputs.single_thread = single;
            inputs.logfilename = dir / ("random" + std::to_string(round) + ".log");
            ASSERT_EQ(Run(list, path).outcome, RunOutcome::Completed);
            EXPECT_TRUE(MatchLines(ReadFile(inputs.logfilename), list) == expected)
                << "round " << round << (single ? ", one thread" : ", two threads");
        }
    }
}

// Many short blocks, read and indexed on two threads and walked on one,
// with tables that change within them and tags in data where they do not
// belong: the log and the progress shown stay those of reading line by
// line, however the threads keep pace with each other.
TEST_F(SearchRunTest, ShortBlocksOnTwoThreadsWriteWhatTheReferenceWrites) {
    std::mt19937 rng(5);
    const std::vector<std::vector<std::string>> sets = {
        {"CUST_NO"}, {"NEVER_THERE"}, {"X<Y", "ENDIF", "CALL"}, {"IF", "=", "ULABEL"}};
    for (int round = 0; round < 8; ++round) {
        const std::vector<std::string>& strings = sets[round % sets.size()];
        const bool tidy = round < 4;
        const std::string list = Joined(strings);
        const std::string path = dir / "ahead.xml";
        const std::string text = testutil::RandomExport(rng, 300u << 10, strings, tidy);
        WriteFile(path, text);
        const std::string expected = ReferenceLines(strings, text);
        std::vector<std::string> shown;
        for (int mode = 0; mode < 3; ++mode) {  // one thread, two, two with pauses on the other
            inputs.single_thread = mode == 0;
            seams.pause = mode == 2 ? differential::PauseAtRandom(static_cast<std::uint64_t>(round) + 1) : nullptr;
            inputs.logfilename = dir / "ahead.log";
            std::size_t offset = 0;
            std::minstd_rand sizes(static_cast<unsigned>(round));
            seams.read_block = [&](std::FILE*, char* dst, std::size_t n) -> std::int64_t {
                std::size_t take = std::min({n, text.size() - offset, std::size_t{1} + sizes() % (24u << 10)});
                std::memcpy(dst, text.data() + offset, take);
                offset += take;
                return static_cast<std::int64_t>(take);
            };
            display.calls.clear();
            RunResult r = Run(list, path);
            ASSERT_EQ(r.outcome, RunOutcome::Completed);
            EXPECT_TRUE(MatchLines(ReadFile(inputs.logfilename), list) == expected) << "round " << round << ", mode " << mode;
            if (mode == 0) shown = display.calls;
            EXPECT_EQ(display.calls, shown) << "round " << round << ", mode " << mode;
        }
    }
}

// The export arrives in reads of every size from one byte up, so a block
// ends at every offset of it, on one thread and on two.
TEST_F(SearchRunTest, BlocksMayEndAnywhere) {
    std::mt19937 rng(29);
    const std::vector<std::string> strings = {"IF", "CALL", "X<Y", "=", "CUST_NO"};
    const std::string list = Joined(strings);
    const std::string text = testutil::RandomExport(rng, 1500, strings);
    const std::string path = dir / "small.xml";
    WriteFile(path, text);
    const std::string expected = ReferenceLines(strings, text);
    ASSERT_GT(expected.size(), 0u);
    inputs.logfilename = dir / "small.log";
    for (std::size_t first = 1; first <= text.size(); ++first) {
        for (bool single : {false, true}) {
            std::size_t offset = 0, reads = 0;
            inputs.single_thread = single;
            // The first read ends at `first`, the others are short too.
            seams.read_block = [&](std::FILE*, char* dst, std::size_t n) -> std::int64_t {
                std::size_t take = std::min({n, text.size() - offset, reads++ == 0 ? first : 1 + (first * 7 + reads) % 300});
                std::memcpy(dst, text.data() + offset, take);
                offset += take;
                return static_cast<std::int64_t>(take);
            };
            ASSERT_EQ(Run(list, path).outcome, RunOutcome::Completed);
            ASSERT_TRUE(MatchLines(ReadFile(inputs.logfilename), list) == expected)
                << "first read " << first << (single ? ", one thread" : ", two threads");
        }
    }
}

}  // namespace

namespace {

TEST_F(SearchRunTest, StringsGivenAsAListKeepEveryOneWhereverItStands) {
    std::string path = dir / "export.xml";
    WriteFile(path, kExport);
    inputs.strings = std::vector<std::string>{"", "FOO", ""};
    Run("", path);
    std::string log = ReadFile(dir / "export.log");
    // The header lists them one per line.
    EXPECT_NE(log.find("looking for:\r\n\r\nFOO\r\n\r\n\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Result Summary:\r\n'' found 3 times\r\n'FOO' found 2 times\r\n'' found 3 times\r\n"),
              std::string::npos)
        << log;
}

TEST_F(SearchRunTest, AStreamOfUnknownSizeShowsTheLinesAboutOnceASecond) {
    // 12 MiB of data lines from a pipe; the clock moves a second a reading.
    std::string text = kExport.substr(0, kExport.find("call"));
    std::string line(63, 'x');
    line += "\n";
    while (text.size() < (std::size_t{12} << 20)) text += line;
    std::string path = dir / "stream.xml";
    WriteFile(path, text);
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    inputs.export_stream = stream;
    inputs.logfilename = dir / "stream.log";
    clock.step = 1;
    RunResult r = Run("NEVER", "(standard input)");
    std::fclose(stream);
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    std::vector<std::string> texts;
    for (const std::string& c : display.calls) {
        EXPECT_EQ(c.rfind("pos", 0), std::string::npos) << c;  // no percentage to show
        EXPECT_EQ(c.rfind("range", 0), std::string::npos) << c;
        if (c.rfind("text ", 0) == 0) texts.push_back(c);
    }
    // Once every 4 MiB while the clock moves on: the lines are of 64 bytes,
    // so the third time falls on the last line.
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].rfind("text Processed ", 0), 0u);
    EXPECT_NE(ReadFile(dir / "stream.log").find("Starting search of file '(standard input)'"), std::string::npos);
}

}  // namespace
