// The reading rules: levels, context, element data and the awkward layouts,
// each a small export searched by the engine, and by the reference reading,
// which must write the same.
#include <gtest/gtest.h>

#include <cstring>

#include "differential/differential.h"
#include "test_util.h"

namespace {

// The log's match lines for a search of the export made of `lines` (CR LF
// each), CR LF ends as in the file, and the counts; the hits (as they stand
// in the export) and the counts are held against the reference's.
struct Read {
    std::string log;
    std::vector<std::int64_t> counts;
};

Read Search(std::initializer_list<std::string> lines, const std::vector<std::string>& strings) {
    std::string text;
    for (const std::string& l : lines) text += l + "\r\n";
    static std::FILE* const stands_for_the_export = std::fopen("/dev/null", "rb");
    RunInputs in;
    in.strings = strings;
    in.srchfilename = "export.xml";
    in.export_stream = stands_for_the_export;
    in.export_size = text.size();
    in.log_stream = std::tmpfile();
    in.single_thread = true;
    differential::RecordingSink sink;
    in.sink = &sink;
    RunSeams seams;
    std::size_t offset = 0;
    seams.read_block = [&](std::FILE*, char* dst, std::size_t n) -> std::int64_t {
        const std::size_t take = std::min(n, text.size() - offset);
        std::memcpy(dst, text.data() + offset, take);
        offset += take;
        return static_cast<std::int64_t>(take);
    };
    testutil::RecordingDisplay display;
    const RunResult r = Quelvar(display, in, seams);
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    // The match lines: after the header's strings and its empty line, up to
    // the ending.
    std::string log(static_cast<std::size_t>(std::ftell(in.log_stream)), '\0');
    std::rewind(in.log_stream);
    EXPECT_EQ(std::fread(log.data(), 1, log.size(), in.log_stream), log.size());
    std::fclose(in.log_stream);
    std::size_t from = log.find("looking for:\r\n") + 14;
    for (std::size_t i = 0; i <= strings.size(); ++i) from = log.find("\r\n", from) + 2;
    Read got;
    got.log = log.substr(from, log.find("\r\nEnding search of file") - from);
    for (const StringCount& c : r.counts) got.counts.push_back(c.count);
    const reference::Result want = reference::Read(text, {strings});
    EXPECT_EQ(sink.records, want.records) << "the reference reads it otherwise";
    EXPECT_EQ(got.log, want.log) << "the reference logs it otherwise";
    EXPECT_EQ(got.counts, want.counts) << "the reference counts otherwise";
    return got;
}

TEST(Levels, WorkedExampleFromTableToTableEnd) {
    const Read r = Search({"<TABLE xmlns:UXGROUP=\"urn:x\">", "  <occ>", "    <UXGROUP:ULABEL>Customers</UXGROUP:ULABEL>",
                           "    <UXGROUP:UBASE>SalesModel</UXGROUP:UBASE>", "    <UXGROUP:UCODE>call foo_init()", "",
                           "   endif", "   foo_done()</UXGROUP:UCODE>", "  </OCC>", "</TABLE>", "foo"},
                          {"FOO"});
    EXPECT_EQ(r.log,
              "Model:SALESMODEL  Table:CUSTOMERS  Trigger:UCODE(   1) :: 'CALL FOO_INIT()'\r\n"
              "Model:SALESMODEL  Table:CUSTOMERS  Trigger:UCODE(   3) :: '   FOO_DONE()'\r\n");
    EXPECT_EQ(r.counts, std::vector<std::int64_t>{2});
}

TEST(Levels, UformatTableIsNotTakenForUform) {
    EXPECT_EQ(Search({"<TABLE XMLNS:UFORMAT>", "<OCC>", "<UFORMAT:UPATTERN>x9</UFORMAT:UPATTERN>",
                      "<UFORM:UCODE>x</UFORM:UCODE>"},
                     {"X"})
                  .log,
              "Trigger:UPATTERN(   1) :: 'X9'\r\n");
}

TEST(Levels, ContextValuesAreStoredNotSearched) {
    EXPECT_EQ(Search({"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:ULABEL>V</UXGROUP:ULABEL>",
                      "<UXGROUP:UDESCR>V</UXGROUP:UDESCR>"},  // not in the map: searched
                     {"V"})
                  .log,
              "Table:V  Trigger:UDESCR(   1) :: 'V'\r\n");
}

TEST(Levels, TwoElementsOnOneLine) {
    // A context element lets the rest of its line be read; a searched
    // element drops it.
    EXPECT_EQ(Search({"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:ULABEL>A</UXGROUP:ULABEL><UXGROUP:UDESCR>B</UXGROUP:UDESCR>",
                      "<UXGROUP:UDESCR>B</UXGROUP:UDESCR><UXGROUP:ULABEL>C</UXGROUP:ULABEL>", "<UXGROUP:UCODE>b</UXGROUP:UCODE>"},
                     {"B"})
                  .log,
              "Table:A  Trigger:UDESCR(   1) :: 'B'\r\nTable:A  Trigger:UDESCR(   1) :: 'B'\r\n"
              "Table:A  Trigger:UCODE(   1) :: 'B'\r\n");
}

TEST(Levels, ElementNamesAreLookedUpAsSubstringsOfTheMap) {
    // U is in the map but names no context: neither stored nor searched, and
    // the rest of the line goes on.
    EXPECT_EQ(Search({"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:LABEL>T1</UXGROUP:LABEL>", "<UXGROUP:ABEL>T2</UXGROUP:ABEL>",
                      "<UXGROUP:U>X</UXGROUP:U><UXGROUP:UBASE>M</UXGROUP:UBASE>", "<UXGROUP:UCODE>q</UXGROUP:UCODE>"},
                     {"X", "Q"})
                  .log,
              "Model:M  Table:T2  Trigger:UCODE(   1) :: 'Q'\r\n");
}

TEST(Levels, ContextElementOverSeveralLines) {
    EXPECT_EQ(Search({"<TABLE XMLNS:UXFIELD>", "<OCC>", "<UXFIELD:ULABEL>", "v", "      </UXFIELD:ULABEL>",
                      "<UXFIELD:UCODE>v</UXFIELD:UCODE>"},
                     {"V"})
                  .log,
              "Trigger:ULABEL(   1) :: 'V'\r\nField:        Trigger:UCODE(   1) :: 'V'\r\n");
}

TEST(Levels, TagOrderWithinALevelIsFixed) {
    // The element test wins at level 3: the occurrence stays, its context
    // too. "<OCC>" wins at level 2: an occurrence of the old table opens.
    EXPECT_EQ(Search({"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:ULABEL>T</UXGROUP:ULABEL>", "</OCC><OCC><UXGROUP:UCODE>x",
                      "</UXGROUP:UCODE>", "</OCC>", "</TABLE><TABLE XMLNS:UFORM><OCC>", "<UXGROUP:UCODE>x</UXGROUP:UCODE>",
                      "<UFORM:UCODE>x</UFORM:UCODE>"},
                     {"X"})
                  .log,
              "Table:T  Trigger:UCODE(   1) :: 'X'\r\nTrigger:UCODE(   1) :: 'X'\r\n");
}

TEST(Levels, TextAfterATableEndIsReadOnItsOwn) {
    // The table tag before "</TABLE>" does not open the table again.
    EXPECT_EQ(Search({"<TABLE XMLNS:UFORM></TABLE>x", "<OCC>", "<UFORM:UCODE>x</UFORM:UCODE>",
                      "<TABLE XMLNS:UFORM></TABLE><TABLE XMLNS:ULIBR>", "<OCC>", "<ULIBR:UCODE>x</ULIBR:UCODE>"},
                     {"X"})
                  .log,
              "Trigger:UCODE(   1) :: 'X'\r\n");
}

TEST(Levels, TableAndOccurrenceOnOneLine) {
    EXPECT_EQ(Search({"<TABLE XMLNS:USOURCE><OCC><USOURCE:USUB>PROC</USOURCE:USUB><USOURCE:UCODE>x"}, {"X"}).log,
              "Sourcetype:PROC  Trigger:UCODE(   1) :: 'X'\r\n");
}

TEST(Levels, LineNumbersSkipBlankLinesAndDataLosesTrailingBlanks) {
    EXPECT_EQ(Search({"<TABLE XMLNS:UFORM>", "<OCC>", "<UFORM:UCODE>", "  ", "\t", "a \t ", "", "a</UFORM:UCODE>"}, {"A"}).log,
              "Trigger:UCODE(   1) :: 'A'\r\nTrigger:UCODE(   2) :: 'A'\r\n");
}

TEST(Levels, ContextIsClearedByEachOccurrence) {
    EXPECT_EQ(Search({"<TABLE XMLNS:ULIBR>", "<OCC>", "<ULIBR:ULIBRARY>L</ULIBR:ULIBRARY>", "</OCC>", "<OCC>",
                      "<ULIBR:UDESCR>x</ULIBR:UDESCR>"},
                     {"X"})
                  .log,
              "Trigger:UDESCR(   1) :: 'X'\r\n");
}

TEST(Levels, AttributesEndTheElementName) {
    EXPECT_EQ(Search({"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:UCODE type=\"text\">x", "x</UXGROUP:UCODE>", "</OCC>",
                      "<OCC>", "<UXGROUP:UCODE>x</UXGROUP:UCODE>"},
                     {"X"})
                  .log,
              "Trigger:UCODE(   1) :: 'X'\r\nTrigger:UCODE(   2) :: 'X'\r\nTrigger:UCODE(   1) :: 'X'\r\n");
}

TEST(Levels, SelfClosingElements) {
    // A context element stores the empty value and the line goes on; any
    // other is searched as an empty line 1, and the rest of its line is
    // dropped.
    const Read r = Search({"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:ULABEL>T</UXGROUP:ULABEL>",
                           "<UXGROUP:ULABEL/><UXGROUP:UBASE>M</UXGROUP:UBASE>",
                           "<UXGROUP:UREADONLY flag=\"x\"/><UXGROUP:UCODE>x", "x", "<UXGROUP:UCODE>x</UXGROUP:UCODE>"},
                          {"X", ""});
    EXPECT_EQ(r.log,
              "Model:M  Trigger:UREADONLY(   1) :: ''\r\nModel:M  Trigger:UCODE(   1) :: 'X'\r\n");
    EXPECT_EQ(r.counts, (std::vector<std::int64_t>{1, 2}));
}

TEST(Levels, PrefixWithoutClosingBracketOpensNothing) {
    EXPECT_EQ(Search({"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:UCODE x", "x", "<UXGROUP:UCODE>x"}, {"X"}).log,
              "Trigger:UCODE(   1) :: 'X'\r\n");
}

TEST(Levels, ElementMissingFromTheMapAfterItsNameEndsInAComma) {
    // "FORMNAME," ends the map: no "," delimits a context name after it.
    EXPECT_EQ(Search({"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:FORMNAME,>V</UXGROUP:FORMNAME,>",
                      "<UXGROUP:UBASE>M</UXGROUP:UBASE>", "<UXGROUP:UCODE>v</UXGROUP:UCODE>"},
                     {"V"})
                  .log,
              "Model:M  Trigger:UCODE(   1) :: 'V'\r\n");
}

TEST(Levels, LongElementNamesAndValuesAreKeptWhole) {
    const std::string name(300, 'N'), value(5000, 'V');
    const Read r = Search({"<TABLE XMLNS:UFORM>", "<OCC>", "<UFORM:ULABEL>" + value + "</UFORM:ULABEL>",
                           "<UFORM:" + name + ">x", "x</UFORM:" + name + ">", "</OCC>", "x"},
                          {"X"});
    EXPECT_EQ(r.log, "Form:" + value + "  Trigger:" + name + "(   1) :: 'X'\r\nForm:" + value + "  Trigger:" + name +
                         "(   2) :: 'X'\r\n");
}

TEST(Levels, UnendedElementSearchesTheRestOfTheFile) {
    EXPECT_EQ(Search({"<TABLE XMLNS:UFORM>", "<OCC>", "<UFORM:UCODE>", "</OCC>", "</TABLE>"}, {"</OCC>", "TABLE"}).log,
              "Trigger:UCODE(   1) :: '</OCC>'\r\nTrigger:UCODE(   2) :: '</TABLE>'\r\n");
}

TEST(Levels, LowerCaseTagsAndOnlyAsciiLettersUpperCased) {
    EXPECT_EQ(Search({"<table xmlns:uform>", "<occ>", "<uform:ucode>\xE9t\xC9</uform:ucode>"}, {"\xE9T\xC9"}).log,
              "Trigger:UCODE(   1) :: '\xE9T\xC9'\r\n");
}

TEST(Levels, ZeroByteEndsTheLine) {
    EXPECT_EQ(Search({"<TABLE XMLNS:UFORM>", "<OCC>", "<UFORM:UCODE>", std::string("a\0b", 3), "ab",
                      std::string("x\0</UFORM:UCODE>", 16), "b"},
                     {"B"})
                  .log,
              "Trigger:UCODE(   2) :: 'AB'\r\nTrigger:UCODE(   4) :: 'B'\r\n");
}

TEST(Levels, DataOutsideElementsIsNeverSearched) {
    EXPECT_EQ(Search({"x", "<TABLE XMLNS:UFORM> x", "x", "<OCC>x", "x", "</OCC>", "</TABLE>x", "x"}, {"X"}).log, "");
}

}  // namespace
