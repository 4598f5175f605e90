// The walk over the tag index, against the scanner: the levels, the table
// and the element after every line are the scanner's, and the whole state
// rebuilt from an occurrence's start is the scanner's too. Then whole runs
// where most lines are walked, against reading line by line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

#include "block_lines.h"
#include "blocks.h"
#include "marks.h"
#include "match_log.h"
#include "random_export.h"
#include "replay.h"
#include "scanner.h"
#include "search.h"
#include "tag_index.h"
#include "test_util.h"
#include "walk.h"

namespace {

void ExpectSameLevels(const ScannerState& a, const ScannerState& b, const std::string& where) {
    EXPECT_EQ(a.next_level, b.next_level) << where;
    EXPECT_EQ(a.selected_row, b.selected_row) << where;
    EXPECT_EQ(a.selected_level1, b.selected_level1) << where;
    EXPECT_EQ(a.selected_level3, b.selected_level3) << where;
    EXPECT_EQ(a.selected_level4, b.selected_level4) << where;
    EXPECT_EQ(a.end_level4, b.end_level4) << where;
}

void ExpectSameContext(const ScanContext& a, const ScanContext& b, bool in_element, const std::string& where) {
    for (const ContextField& f : kContextFields) EXPECT_EQ(a.*f.value, b.*f.value) << where;
    EXPECT_EQ(a.current_trigger, b.current_trigger) << where;
    if (in_element) {
        EXPECT_EQ(a.trigger_line, b.trigger_line) << where;
    }
}

// A line as a failure shows it: control bytes as \xNN.
std::string Printable(std::string_view line) {
    std::string out;
    for (unsigned char c : line) {
        if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
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
    "<USOURCE:UCODE a=\"</USOURCE:UCODE>\">v</USOURCE:UCODE> <USOURCE:ULABEL>w</USOURCE:ULABEL>",  // an end tag in the start tag
    "<USOURCE:UVAR>x</USOURCE:UVAR><USOURCE:UVAR>y</usource:uvar> <USOURCE:UCODE>z",  // end tags in either case
    "<USOURCE:UCODE>a<b</USOURCE:UCODE><USOURCE:UCODE>",  // another "<" before the end tag
    "<USOURCE:UCODE>x</USOURCE:UCODE></USOURCE:UCODE>",  // an end tag after the element's end
    // The end tag is that of an element of the same name opened and closed
    // in the data, or in the start tag; another one follows.
    "<USOURCE:UVAR>a<USOURCE:UVAR>b</USOURCE:UVAR><USOURCE:UCODE>c</USOURCE:UVAR>",
    "<USOURCE:UVAR <USOURCE:UVAR>b</USOURCE:UVAR><USOURCE:UCODE>c</USOURCE:UVAR>",
    "<USOURCE:UVAR a</USOURCE:UVAR><USOURCE:UCODE>x",  // the first ">" is its end tag's
};

// A line made of the pieces of tags in any order: start tags cut anywhere,
// end tags inside start tags and data, elements of the same name opened
// and closed on one line, blanks and control bytes where names end, other
// tables' tags.
std::string TagSoupLine(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {
        "<TABLE xmlns:USOURCE=\"u\">", "<TABLE XMLNS:UFORM>", "</TABLE>", "<OCC>", "</OCC>", "<USOURCE:UVAR",
        "<USOURCE:UCODE", "<usource:uvar", "</USOURCE:UVAR>", "</USOURCE:UCODE>", "</usource:Uvar>",
        "</USOURCE:UVAR", "<USOURCE:UVAR>", "<USOURCE:UCODE>", "<USOURCE:", "</USOURCE:>", "<UFORM:ULABEL>",
        "</UFORM:ULABEL>", "<TABLE XMLNS:UFORMAT>", "<UFORMAT:UCODE>", "</UFORMAT:UCODE>", "<USOURCE:USUB>",
        "</USOURCE:USUB>", "<USOURCE:ULABEL_AND_A_LONGER_NAME", "</USOURCE:ULABEL_AND_A_LONGER_NAME>", ">", "/>",
        "/", " ", "\r", "\t", "a", "<", "</", "<<", "=\"", "\"", std::string(1, '\0')};
    std::string line;
    for (std::size_t n = 1 + rng() % 10; n > 0; --n) line += pieces[rng() % pieces.size()];
    return line + (rng() % 4 ? "\n" : "\r\n");
}

std::string TagSoup(std::mt19937& rng, std::size_t bytes) {
    std::string text;
    while (text.size() < bytes) text += TagSoupLine(rng);
    return text;
}

std::string OddExport(std::mt19937& rng, std::size_t bytes) {
    const std::vector<std::string> strings = {"CUST_NO"};
    std::string text = testutil::RandomExport(rng, bytes, strings, rng() % 2 == 0);
    for (int k = 0; k < 80; ++k) {  // odd lines at random line starts
        const std::size_t at = text.find('\n', rng() % text.size());
        if (at == std::string::npos) continue;
        text.insert(at + 1, k % 4 == 3 ? TagSoupLine(rng) : kOddLines[rng() % kOddLines.size()] + (rng() % 3 ? "\r\n" : "\n"));
    }
    return text;
}

// The walk over each block's tag index, against the scanner reading line
// by line: after every line the levels, the table and the element are the
// scanner's, and where the walk saw an occurrence start, the whole state
// rebuilt from there is the scanner's too. Blocks end anywhere (short reads
// of up to `read_size` bytes), so lines and tags are carried between them.
// Stops at the first line that differs.
void ExpectWalkFollowsScanner(const std::string& text, std::size_t read_size, const std::string& label) {
    RunState full;
    EXPECT_EQ(BuildSrchStrings(full, std::vector<std::string>{"NEVER"}), 1);
    Walk walk;
    std::size_t offset = 0;
    ExportReader reader;
    StartExportReader(reader, nullptr, testutil::FromMemory(text, read_size, offset));
    Block b;
    Marks m;
    TagIndex index;
    while (NextBlock(reader, b) && !::testing::Test::HasFailure()) {
        SizeMarks(m, b.buffer.room);
        MarkBytes(b.buffer.data(), b.begin, b.end, m, false);
        IndexBlock(b.buffer.data(), b.begin, b.end, m, index);
        const TagEntry* e = index.entries.data();
        for (std::size_t a = b.begin; a < b.end && !::testing::Test::HasFailure();) {
            const std::size_t lf = NextMark(m.lf.data(), a, b.end);
            const std::string_view whole(b.buffer.data() + a, lf - a);
            // A mark no table here sets: gone when an occurrence started.
            full.context.current_fielddesc = "\x01";
            ProcessStream(full, whole);
            const bool started = full.context.current_fielddesc.empty();
            full.context.current_fielddesc.clear();
            OccurrenceMark occurrence;
            e = WalkLines(walk, b, m, e, lf + 1, occurrence);
            const std::string where = label + ", line " + Printable(whole);
            ExpectSameLevels(full.scanner, walk.s, where);
            EXPECT_EQ(started, occurrence.set) << where;
            if (occurrence.set) {
                // From the occurrence's start the whole state comes back.
                RunState rebuilt;
                EXPECT_EQ(BuildSrchStrings(rebuilt, std::vector<std::string>{"NEVER"}), 1);
                RebuildState(rebuilt, b, m, a, 0, occurrence, lf + 1);
                ExpectSameLevels(full.scanner, rebuilt.scanner, where);
                ExpectSameContext(full.context, rebuilt.context, full.scanner.next_level == 4, where);
                DeAllocateEverything(rebuilt);
            }
            a = lf + 1;
        }
    }
    DeAllocateEverything(full);
}

TEST(Walk, FollowsTheScannerLineByLine) {
    std::mt19937 rng(17);
    for (int round = 0; round < 40 && !HasFailure(); ++round)
        ExpectWalkFollowsScanner(OddExport(rng, 60u << 10), 1 + rng() % 5000, "round " + std::to_string(round));
}

// Every line a tag line, held against the scanner.
TEST(Walk, FollowsTheScannerThroughTagsInAnyOrder) {
    std::mt19937 rng(29);
    for (int round = 0; round < 200 && !HasFailure(); ++round)
        ExpectWalkFollowsScanner(TagSoup(rng, 20u << 10), 1 + rng() % 3000, "round " + std::to_string(round));
}

// Rare strings in odd exports, so that most lines are walked and the
// context is rebuilt for the few where a string starts, read in blocks that
// end anywhere, on one thread and two: the log and the progress shown are
// those of reading line by line.
TEST(WalkRuns, WriteWhatLineByLineReadingWrites) {
    testutil::TempDir dir;
    std::mt19937 rng(23);
    const std::vector<std::string> strings = {"RARE_ONE", "RARE_TWO"};
    const std::string list = testutil::Joined(strings);
    for (int round = 0; round < 10; ++round) {
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
        // One thread, two, then short reads on two, with pauses or not.
        for (int mode = 0; mode < 4; ++mode) {
            testutil::RecordingDisplay display;
            testutil::FixedClock clock;
            RunInputs inputs;
            inputs.clock = clock.fn();
            inputs.srch_string = list;
            inputs.srchfilename = path;
            inputs.logfilename = log;
            inputs.single_thread = mode == 0;
            inputs.hooks.delay_seed = mode == 3 ? static_cast<std::uint64_t>(round) + 11 : 0;
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
        }
    }
}

}  // namespace
