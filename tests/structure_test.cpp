// Following the structure alone, against the scanner: the levels, the table
// and the element after every line are the scanner's, and the whole state
// rebuilt from an occurrence's start is the scanner's too. Then whole runs
// where most lines are followed that way, against reading line by line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "marks.h"
#include "match_log.h"
#include "random_export.h"
#include "scanner.h"
#include "search.h"
#include "test_util.h"

namespace {

// The marks of a text, bit by bit, as the reader sets them (line feeds, "<",
// zero bytes), with the clear word after them.
Marks MarksOf(const std::string& text) {
    Marks m;
    const std::size_t words = text.size() / 64 + 2;
    for (auto* v : {&m.lf, &m.tag, &m.zero, &m.filled, &m.match}) v->assign(words, 0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint64_t bit = std::uint64_t{1} << (i & 63);
        if (text[i] == '\n') m.lf[i >> 6] |= bit;
        if (text[i] == '<') m.tag[i >> 6] |= bit;
        if (text[i] == '\0') m.zero[i >> 6] |= bit;
    }
    return m;
}

void ExpectSameLevels(const ScannerState& a, const ScannerState& b, const std::string& where) {
    EXPECT_EQ(a.next_level, b.next_level) << where;
    EXPECT_EQ(a.selected_row, b.selected_row) << where;
    EXPECT_EQ(a.selected_level1, b.selected_level1) << where;
    EXPECT_EQ(a.selected_level3, b.selected_level3) << where;
    EXPECT_EQ(a.selected_level4, b.selected_level4) << where;
    EXPECT_EQ(a.end_level4, b.end_level4) << where;
}

void ExpectSameContext(const ScanContext& a, const ScanContext& b, bool in_element, const std::string& where) {
    for (auto field : {&ScanContext::current_library, &ScanContext::current_form, &ScanContext::current_global,
                       &ScanContext::current_entryname, &ScanContext::current_menubar, &ScanContext::current_glyph,
                       &ScanContext::current_sourcetype, &ScanContext::current_model, &ScanContext::current_table,
                       &ScanContext::current_field, &ScanContext::current_trigger, &ScanContext::current_formdesc,
                       &ScanContext::current_fielddesc})
        EXPECT_EQ(a.*field, b.*field) << where;
    if (in_element) {
        EXPECT_EQ(a.trigger_line, b.trigger_line) << where;
    }
}

// Lines the export layout does not expect, mixed into random exports.
const std::vector<std::string> kOddLines = {
    "<OCC><USOURCE:ULABEL>a</USOURCE:ULABEL>",         // an occurrence and an element on one line
    "</OCC><OCC>",                                     // an occurrence ends and starts
    "<USOURCE:UCODE/>",                                // self-closing
    "<USOURCE:UVAR>x</USOURCE:UVAR><USOURCE:UCODE>y",  // a context element, then one that opens
    "<USOURCE:ULABEL attr=\"1\">z</USOURCE:ULABEL>",   // an attribute: the element never ends
    "<USOURCE:>",                                      // an empty name
    "<USOURCE:UCODE",                                  // no ">"
    "</TABLE><TABLE xmlns:UFORM=\"u\"><OCC>",          // the table changes
    "<uform:ucode>lower</uform:ucode>",
    "<UFORM:UCODE>a <> b</UFORM:UCODE> rest",
    "<UFORM:ULABEL>v</UFORM:ULABEL> <UFORM:UCODE>w</UFORM:UCODE>",
    "  </USOURCE:UCODE>  \t",
    "<TABLE xmlns:UFORMAT=\"u\">",
    std::string("x\0<OCC>", 7),                        // a zero byte cuts the line before the tag
    std::string("<OCC>\0</OCC>", 12),
};

std::string OddExport(std::mt19937& rng, std::size_t bytes) {
    const std::vector<std::string> strings = {"CUST_NO"};
    std::string text = testutil::RandomExport(rng, bytes, strings, rng() % 2 == 0);
    for (int k = 0; k < 60; ++k) {  // odd lines at random line starts
        const std::size_t at = text.find('\n', rng() % text.size());
        if (at == std::string::npos) continue;
        text.insert(at + 1, kOddLines[rng() % kOddLines.size()] + (rng() % 3 ? "\r\n" : "\n"));
    }
    return text;
}

TEST(Structure, FollowsTheScannerLineByLine) {
    std::mt19937 rng(17);
    for (int round = 0; round < 40; ++round) {
        const std::string text = OddExport(rng, 60u << 10);
        const Marks marks = MarksOf(text);
        RunState full, walked;
        EXPECT_EQ(BuildSrchStrings(full, std::vector<std::string>{"NEVER"}), 1);
        EXPECT_EQ(BuildSrchStrings(walked, std::vector<std::string>{"NEVER"}), 1);
        for (std::size_t a = 0; a < text.size();) {
            const std::size_t lf = text.find('\n', a);
            if (lf == std::string::npos) break;
            std::string_view line(text.data() + a, lf - a);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            // A mark no table here sets: gone when an occurrence started.
            full.context.current_fielddesc = "\x01";
            ProcessStream(full, line);
            const bool started = full.context.current_fielddesc.empty();
            full.context.current_fielddesc.clear();
            OccurrenceStart start;
            std::size_t start_line = ~std::size_t{0};
            ASSERT_EQ(FollowLines(walked, text.data(), marks, a, lf + 1, start, start_line), lf + 1);
            const std::string where = "round " + std::to_string(round) + ", line at " + std::to_string(a) + ": " +
                                      std::string(line);
            ExpectSameLevels(full.scanner, walked.scanner, where);
            EXPECT_EQ(started, start.text != nullptr) << where;
            if (start.text) {
                // From the occurrence's start the whole state comes back.
                EXPECT_EQ(start_line, a) << where;
                RunState rebuilt;
                EXPECT_EQ(BuildSrchStrings(rebuilt, std::vector<std::string>{"NEVER"}), 1);
                StartOccurrence(rebuilt, start.row);
                LineFacts facts;
                const std::string_view trimmed = TrimmedLine(line, facts);
                const std::size_t offset = static_cast<std::size_t>(start.text - text.data()) - a;
                if (offset < trimmed.size()) ProcessRest(rebuilt, trimmed.substr(offset), facts);
                ExpectSameLevels(full.scanner, rebuilt.scanner, where);
                ExpectSameContext(full.context, rebuilt.context, full.scanner.next_level == 4, where);
                DeAllocateEverything(rebuilt);
            }
            a = lf + 1;
        }
        // Many lines at once end where one at a time do.
        RunState at_once;
        EXPECT_EQ(BuildSrchStrings(at_once, std::vector<std::string>{"NEVER"}), 1);
        OccurrenceStart start;
        std::size_t start_line = 0;
        const std::size_t end = text.rfind('\n') + 1;
        ASSERT_EQ(FollowLines(at_once, text.data(), marks, 0, end, start, start_line), end);
        ExpectSameLevels(full.scanner, at_once.scanner, "round " + std::to_string(round) + ", all at once");
        DeAllocateEverything(full);
        DeAllocateEverything(walked);
        DeAllocateEverything(at_once);
    }
}

// Rare strings, so that most lines are followed for their structure alone
// (here or on the reading thread) and the context is rebuilt for the few
// where a string starts: in odd exports, read in blocks that end anywhere,
// on one thread and two, with the lines waiting for the walk ahead of them
// or not, the log and the progress shown are those of reading line by line.
TEST(StructureRuns, WriteWhatLineByLineReadingWrites) {
    testutil::TempDir dir;
    std::mt19937 rng(23);
    const std::vector<std::string> strings = {"RARE_ONE", "RARE_TWO"};
    const std::string list = testutil::Joined(strings);
    for (int round = 0; round < 10; ++round) {
        // Tidy exports in even rounds: the walk ahead mostly holds there.
        const bool tidy = round % 2 == 0;
        const std::size_t size = (round % 3 == 0 ? 900u : 250u) << 10;
        std::string text = tidy ? testutil::RandomExport(rng, size, {"CUST_NO"}, true) : OddExport(rng, size);
        for (int k = 0; k < 30; ++k) {  // a rare string now and then, in data or in tags
            const std::size_t at = text.find('\n', rng() % text.size());
            const char* rare[] = {"rare_one x\r\n", "<USOURCE:UCODE>RARE_TWO\r\n",
                                  "<OCC><USOURCE:UCODE>rare_two</USOURCE:UCODE>\r\n", "x RARE_ONE</USOURCE:UCODE>\r\n"};
            if (at != std::string::npos) text.insert(at + 1, rare[k % 4]);
        }
        const std::string path = dir / "rare.xml", log = dir / "rare.log";
        testutil::WriteFile(path, text);
        const std::string expected = testutil::LineByLine(list, text);
        std::vector<std::string> shown;
        // One thread, two, then short reads (each a block read ahead) on
        // two, the lines waiting for the walk of each or not.
        for (int mode = 0; mode < 4; ++mode) {
            testutil::RecordingDisplay display;
            testutil::FixedClock clock;
            RunInputs inputs;
            inputs.clock = clock.fn();
            inputs.srch_string = list;
            inputs.srchfilename = path;
            inputs.logfilename = log;
            inputs.single_thread = mode == 0;
            inputs.whole_blocks_ahead = mode == 2;
            // In odd rounds every stretch free of the strings, one line even,
            // is followed for its structure alone.
            if (round % 2) inputs.follow_at_least = 1;
            std::size_t offset = 0;
            std::minstd_rand sizes(static_cast<unsigned>(round));
            if (mode >= 2)
                inputs.read_block = [&](std::FILE*, char* dst, std::size_t n) -> std::int64_t {
                    const std::size_t take = std::min({n, text.size() - offset, std::size_t{1} + sizes() % (40u << 10)});
                    std::memcpy(dst, text.data() + offset, take);
                    offset += take;
                    return static_cast<std::int64_t>(take);
                };
            const RunResult r = Quelvar(display, inputs);
            ASSERT_EQ(r.outcome, RunOutcome::Completed);
            EXPECT_TRUE(testutil::MatchLines(testutil::ReadFile(log), list) == expected) << "round " << round << ", mode " << mode;
            if (mode == 0) shown = display.calls;
            EXPECT_EQ(display.calls, shown) << "round " << round << ", mode " << mode;
            if (mode == 2 && tidy) {
                EXPECT_GT(r.lines_scanned_ahead, r.lines / 4) << "round " << round;
            }
        }
    }
}

}  // namespace
