// The export scanner: levels, context, element data and the awkward layouts.
#include <gtest/gtest.h>

#include "match_log.h"
#include "scanner.h"
#include "test_util.h"

namespace {

// Feeds an export's lines to the scanner with the given search strings and
// keeps the match lines it writes.
class ScannerTest : public ::testing::Test {
protected:
    RunState run;
    void TearDown() override { DeAllocateEverything(run); }

    void Search(std::initializer_list<std::string> strings) {
        std::string text;
        for (const std::string& s : strings) text += s + "\r\n";
        ASSERT_EQ(BuildSrchStrings(run, text), 1);
    }
    void Feed(std::initializer_list<std::string> lines) {
        for (const std::string& l : lines) ProcessStream(run, l);
    }
    // The match lines written so far, CR LF ends as in the file.
    std::string Log() const { return run.output_file.buffer; }
    // Where the scanner stands, read in this one place: 1 outside a table, 2
    // in a table, 3 in an occurrence, 4 in an element; the current table's
    // element prefix ("<UXGROUP:"), empty outside a table.
    int Level() const { return run.scanner.next_level; }
    std::string_view Prefix() const { return run.scanner.selected_level3; }
    std::int64_t Count(const std::string& s) const {
        for (SearchString* r = run.next_srch_string; r; r = r->next_string)
            if (r->allocated_string == s) return r->matching_lines;
        return -1;
    }
};

TEST_F(ScannerTest, WorkedExampleFromTableToTableEnd) {
    Search({"FOO"});
    Feed({"<TABLE xmlns:UXGROUP=\"urn:x\">", "  <occ>",
          "    <UXGROUP:ULABEL>Customers</UXGROUP:ULABEL>",
          "    <UXGROUP:UBASE>SalesModel</UXGROUP:UBASE>",
          "    <UXGROUP:UCODE>call foo_init()", "", "   endif",
          "   foo_done()</UXGROUP:UCODE>", "  </OCC>", "</TABLE>"});
    EXPECT_EQ(Log(),
              "Model:SALESMODEL  Table:CUSTOMERS  Trigger:UCODE(   1) :: 'CALL FOO_INIT()'\r\n"
              "Model:SALESMODEL  Table:CUSTOMERS  Trigger:UCODE(   3) :: '   FOO_DONE()'\r\n");
    EXPECT_EQ(Count("FOO"), 2);
    EXPECT_EQ(Level(), 1);
}

TEST_F(ScannerTest, UformatTableIsNotTakenForUform) {
    Search({"X"});
    Feed({"<TABLE XMLNS:UFORMAT>", "<OCC>", "<UFORMAT:UPATTERN>x9</UFORMAT:UPATTERN>"});
    EXPECT_EQ(Prefix(), "<UFORMAT:");
    EXPECT_EQ(Log(), "Trigger:UPATTERN(   1) :: 'X9'\r\n");
}

TEST_F(ScannerTest, ContextValuesAreStoredNotSearched) {
    Search({"V"});
    Feed({"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:ULABEL>V</UXGROUP:ULABEL>"});
    EXPECT_EQ(run.context.current_table, "V");
    EXPECT_EQ(Log(), "");
    Feed({"<UXGROUP:UDESCR>V</UXGROUP:UDESCR>"});  // not in the map: searched
    EXPECT_EQ(Log(), "Table:V  Trigger:UDESCR(   1) :: 'V'\r\n");
}

TEST_F(ScannerTest, TwoElementsOnOneLine) {
    Search({"B"});
    Feed({"<TABLE XMLNS:UXGROUP>", "<OCC>",
          "<UXGROUP:ULABEL>A</UXGROUP:ULABEL><UXGROUP:UDESCR>B</UXGROUP:UDESCR>"});
    EXPECT_EQ(Log(), "Table:A  Trigger:UDESCR(   1) :: 'B'\r\n");
    // A searched element drops the rest of its line.
    Feed({"<UXGROUP:UDESCR>B</UXGROUP:UDESCR><UXGROUP:ULABEL>C</UXGROUP:ULABEL>"});
    EXPECT_EQ(run.context.current_table, "A");
}

TEST_F(ScannerTest, ElementNamesAreLookedUpAsSubstringsOfTheMap) {
    Search({""});
    Feed({"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:LABEL>T1</UXGROUP:LABEL>"});
    EXPECT_EQ(run.context.current_table, "T1");
    Feed({"<UXGROUP:ABEL>T2</UXGROUP:ABEL>"});
    EXPECT_EQ(run.context.current_table, "T2");
    // U is in the map but names no context: neither stored nor searched, and
    // the rest of the line goes on.
    Feed({"<UXGROUP:U>X</UXGROUP:U><UXGROUP:UBASE>M</UXGROUP:UBASE>"});
    EXPECT_EQ(run.context.current_model, "M");
    EXPECT_EQ(Log(), "");
}

TEST_F(ScannerTest, ContextElementOverSeveralLines) {
    Search({"V"});
    Feed({"<TABLE XMLNS:UXFIELD>", "<OCC>", "<UXFIELD:ULABEL>", "v", "      </UXFIELD:ULABEL>"});
    EXPECT_EQ(Log(), "Trigger:ULABEL(   1) :: 'V'\r\n");
    EXPECT_EQ(run.context.current_field, "      ");
}

TEST_F(ScannerTest, TagOrderWithinALevelIsFixed) {
    Search({""});
    Feed({"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:ULABEL>T</UXGROUP:ULABEL>",
          "</OCC><OCC><UXGROUP:UCODE>x"});
    // The element test wins at level 3: the occurrence stays, context too.
    EXPECT_EQ(Level(), 4);
    EXPECT_EQ(run.context.current_table, "T");
    Feed({"</UXGROUP:UCODE>", "</OCC>", "</TABLE><TABLE XMLNS:UFORM><OCC>"});
    // "<OCC>" wins at level 2: an occurrence of the old table opens.
    EXPECT_EQ(Level(), 3);
    EXPECT_EQ(Prefix(), "<UXGROUP:");
}

TEST_F(ScannerTest, TextAfterATableEndIsExaminedOnItsOwn) {
    Search({"X"});
    // The table tag before "</TABLE>" must not open the table again.
    Feed({"<TABLE XMLNS:UFORM></TABLE>x", "<OCC>"});
    EXPECT_EQ(Level(), 1);
    Feed({"<TABLE XMLNS:UFORM></TABLE><TABLE XMLNS:ULIBR>", "<OCC>"});
    EXPECT_EQ(Prefix(), "<ULIBR:");
    EXPECT_EQ(Level(), 3);
}

TEST_F(ScannerTest, TableAndOccurrenceOnOneLine) {
    Search({"X"});
    Feed({"<TABLE XMLNS:USOURCE><OCC><USOURCE:USUB>PROC</USOURCE:USUB><USOURCE:UCODE>x"});
    EXPECT_EQ(Log(), "Sourcetype:PROC  Trigger:UCODE(   1) :: 'X'\r\n");
}

TEST_F(ScannerTest, LineNumbersSkipBlankLinesAndDataLosesTrailingBlanks) {
    Search({"A"});
    Feed({"<TABLE XMLNS:UFORM>", "<OCC>", "<UFORM:UCODE>", "  ", "\t", "a \t ", "",
          "a</UFORM:UCODE>"});
    EXPECT_EQ(Log(), "Trigger:UCODE(   1) :: 'A'\r\nTrigger:UCODE(   2) :: 'A'\r\n");
}

TEST_F(ScannerTest, ContextIsClearedByEachOccurrence) {
    Search({"X"});
    Feed({"<TABLE XMLNS:ULIBR>", "<OCC>", "<ULIBR:ULIBRARY>L</ULIBR:ULIBRARY>", "</OCC>", "<OCC>",
          "<ULIBR:UDESCR>x</ULIBR:UDESCR>"});
    EXPECT_EQ(Log(), "Trigger:UDESCR(   1) :: 'X'\r\n");
    EXPECT_EQ(run.context.current_trigger, "UDESCR");  // kept after the element ends
}

TEST_F(ScannerTest, AttributesEndTheElementName) {
    Search({"X"});
    Feed({"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:UCODE type=\"text\">x",
          "x</UXGROUP:UCODE>", "</OCC>", "<OCC>", "<UXGROUP:UCODE>x</UXGROUP:UCODE>"});
    EXPECT_EQ(Log(),
              "Trigger:UCODE(   1) :: 'X'\r\nTrigger:UCODE(   2) :: 'X'\r\n"
              "Trigger:UCODE(   1) :: 'X'\r\n");
}

TEST_F(ScannerTest, SelfClosingElements) {
    Search({"X", ""});
    // A context element stores the empty value and the line goes on.
    Feed({"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:ULABEL>T</UXGROUP:ULABEL>",
          "<UXGROUP:ULABEL/><UXGROUP:UBASE>M</UXGROUP:UBASE>"});
    EXPECT_EQ(run.context.current_table, "");
    EXPECT_EQ(run.context.current_model, "M");
    EXPECT_EQ(Log(), "");
    // Any other one is searched as an empty line 1; the rest of its line is dropped.
    Feed({"<UXGROUP:UREADONLY flag=\"x\"/><UXGROUP:UCODE>x", "x"});
    EXPECT_EQ(Log(), "Model:M  Trigger:UREADONLY(   1) :: ''\r\n");
    EXPECT_EQ(Count(""), 1);
    EXPECT_EQ(Count("X"), 0);
    EXPECT_EQ(Level(), 3);
}

TEST_F(ScannerTest, PrefixWithoutClosingBracketOpensNothing) {
    Search({"X"});
    Feed({"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:UCODE x", "x", "<UXGROUP:UCODE>x"});
    EXPECT_EQ(Log(), "Trigger:UCODE(   1) :: 'X'\r\n");
}

TEST_F(ScannerTest, ElementMissingFromTheMapAfterItsNameEndsInAComma) {
    Search({""});
    // "FORMNAME," ends the map: no "," delimits a context name after it.
    Feed({"<TABLE XMLNS:UXGROUP>", "<OCC>", "<UXGROUP:FORMNAME,>V</UXGROUP:FORMNAME,>",
          "<UXGROUP:UBASE>M</UXGROUP:UBASE>"});
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(run.context.current_model, "M");
}

TEST_F(ScannerTest, LongElementNamesAndValuesAreKeptWhole) {
    Search({"X"});
    std::string name(300, 'N');
    std::string value(5000, 'V');
    Feed({"<TABLE XMLNS:UFORM>", "<OCC>", "<UFORM:ULABEL>" + value + "</UFORM:ULABEL>",
          "<UFORM:" + name + ">x", "x</UFORM:" + name + ">", "</OCC>"});
    EXPECT_EQ(run.context.current_form, value);
    EXPECT_EQ(Count("X"), 2);
    EXPECT_EQ(Level(), 2);
}

TEST_F(ScannerTest, UnendedElementSearchesTheRestOfTheFile) {
    Search({"</OCC>"});
    Feed({"<TABLE XMLNS:UFORM>", "<OCC>", "<UFORM:UCODE>", "</OCC>", "</TABLE>"});
    EXPECT_EQ(Log(), "Trigger:UCODE(   1) :: '</OCC>'\r\n");
    EXPECT_EQ(Level(), 4);
}

TEST_F(ScannerTest, LowerCaseTagsAndOnlyAsciiLettersUpperCased) {
    Search({"\xE9T\xC9"});
    Feed({"<table xmlns:uform>", "<occ>", "<uform:ucode>\xE9t\xC9</uform:ucode>"});
    EXPECT_EQ(Log(), "Trigger:UCODE(   1) :: '\xE9T\xC9'\r\n");
}

TEST_F(ScannerTest, ZeroByteEndsTheLine) {
    Search({"B"});
    Feed({"<TABLE XMLNS:UFORM>", "<OCC>", "<UFORM:UCODE>", std::string("a\0b", 3), "ab"});
    EXPECT_EQ(Log(), "Trigger:UCODE(   2) :: 'AB'\r\n");
}

TEST_F(ScannerTest, DataOutsideElementsIsNeverSearched) {
    Search({"X"});
    Feed({"x", "<TABLE XMLNS:UFORM> x", "x", "<OCC>x", "x", "</OCC>", "</TABLE>x", "x"});
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(Level(), 1);
}

}  // namespace
