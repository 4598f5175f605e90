// The page of hits, short of a browser: texts as the page carries them, the
// highlights of each hit, the lines around hits kept for their views, the
// limit, and the page around the data. The browser's side is
// tests/html_check.py.
#include <gtest/gtest.h>

#include <cstdio>

#include "html_writer.h"
#include "test_util.h"

namespace {

std::string Page(std::string_view bytes) {
    std::string out;
    AppendPageString(out, bytes);
    return out;
}

TEST(PageText, MarkupAndScriptEndsAreEscapedNeverCarried) {
    EXPECT_EQ(Page("</script><img src=x onerror=alert(1)>"),
              "\"\\u003c/script\\u003e\\u003cimg src=x onerror=alert(1)\\u003e\"");
    EXPECT_EQ(Page("a & \"b\" \\ 'c'"), "\"a \\u0026 \\\"b\\\" \\\\ 'c'\"");
    EXPECT_EQ(Page("<!-- x -->"), "\"\\u003c!-- x --\\u003e\"");
}

TEST(PageText, InvalidBytesAndControlsBecomeVisible) {
    EXPECT_EQ(Page("caf\xE9"), "\"caf\\ufffd\"");                    // Latin-1, no UTF-8
    EXPECT_EQ(Page("\xE2\x82"), "\"\\ufffd\\ufffd\"");                // a cut character: each byte
    EXPECT_EQ(Page(std::string("a\0b\x01\x7F", 5)), "\"a\\u2400b\\u2401\\u2421\"");
    EXPECT_EQ(Page("gr\xC3\xB6\xC3\x9F" "e\t"), "\"gr\xC3\xB6\xC3\x9F" "e\\t\"");  // valid UTF-8 as it stands
}

// A search's strings, given in this order, for hits made by hand: the page
// learns them as its search begins.
struct Strings {
    std::vector<std::string> texts;
    std::vector<std::uint32_t> given;
    explicit Strings(const std::vector<std::string>& t) : texts(t) {
        for (std::uint32_t i = 0; i < texts.size(); ++i) given.push_back(i);
    }
    void Begin(HtmlExport& page) const { page.Begin(SearchStart{"export.xml", texts, nullptr, page.word, true, {}, {}}); }
};

std::string RowOf(HtmlExport& page, std::string_view data, const std::vector<std::uint32_t>& found,
                  ScanContext context = {}) {
    page.rows.clear();
    page.row_ends.clear();
    const Hit hit{context, 3, data, found, 12, 400};
    page.OnHit(hit);
    return page.rows;
}

TEST(PageHits, EachStringTheLineHoldsIsMarkedWhereItStands) {
    Strings s({"CUSTNO", "NO", "X", ""});
    HtmlExport page;
    s.Begin(page);
    ScanContext c;
    c.current_library = "ORDERS";
    c.current_entryname = "CALC";
    c.current_table = "CUSTOMER";
    c.current_trigger = "USOURCE";
    // Overlaps go to the string given first; the empty string marks nothing.
    EXPECT_EQ(RowOf(page, "CALL X(CUSTNO)\r", {s.given[0], s.given[1], s.given[2], s.given[3]}, c),
              "[0,3,12,[0,1,2,3],\"CALL \",[2,\"X\"],\"(\",[0,\"CUSTNO\"],\")\"]");
    ASSERT_EQ(page.groups.size(), 1u);
    EXPECT_EQ(page.groups[0], "[[\"Library:\",\"ORDERS\",\"Entry:\",\"CALC\"],[\"Table:\",\"CUSTOMER\"],\"USOURCE\"]");
    // Whole words only: the string inside a longer word is not marked.
    page.word = true;
    s.Begin(page);
    EXPECT_EQ(RowOf(page, "PCUSTNO CUSTNO", {s.given[0]}), "[1,3,12,[0],\"PCUSTNO \",[0,\"CUSTNO\"]]");
    EXPECT_EQ(page.groups.size(), 2u);  // a group of its own: no context
}

TEST(PageHits, PastTheLimitHitsAreCountedNotKept) {
    Strings s({"A"});
    HtmlExport page;
    s.Begin(page);
    page.limit = 2;
    const ScanContext c;
    for (int i = 0; i < 5; ++i) {
        const Hit hit{c, 1, "A", s.given, 1, 0};
        page.OnHit(hit);
    }
    EXPECT_EQ(page.row_ends.size(), 2u);
    EXPECT_EQ(page.omitted, 3u);
}

// Lines near hits as the engine hands them over (sink.h): after a hit as
// they come, or before the next hit.
void After(HtmlExport& page, std::uint64_t export_line, std::int64_t element_line, int after) {
    const std::string data = "L" + std::to_string(element_line);
    page.OnNearLine({data, export_line, element_line, 0, after});
}
void Before(HtmlExport& page, std::uint64_t export_line, std::int64_t element_line, int before, int after = 0) {
    const std::string data = "L" + std::to_string(element_line);
    page.OnNearLine({data, export_line, element_line, before, after});
}
void HitAt(HtmlExport& page, const Strings& s, std::uint64_t export_line, std::int64_t element_line,
           std::uint64_t element) {
    const ScanContext c;
    const Hit hit{c, element_line, "A", s.given, export_line, 0, 0, element};
    page.OnHit(hit);
}

TEST(PageLines, EachLineIsKeptOnceAndOnlyWithinThePagesReach) {
    Strings s({"A"});
    HtmlExport page;
    s.Begin(page);
    page.before = 2;
    page.after = 1;  // the engine reaches 3 and 3 for another sink
    HitAt(page, s, 10, 5, 1);
    After(page, 11, 6, 1);
    After(page, 13, 7, 2);  // past the page's reach after the hit
    After(page, 14, 8, 3);
    Before(page, 13, 7, 3, 2);  // before the next hit: too far
    Before(page, 14, 8, 2, 3);  // near enough, and not kept as a line after the hit
    Before(page, 15, 9, 1);
    HitAt(page, s, 16, 10, 1);
    After(page, 17, 11, 1);
    Before(page, 17, 11, 1, 1);  // kept already as a line after a hit
    HitAt(page, s, 18, 12, 1);
    EXPECT_EQ(page.near_lines, ",11,6,\"L6\",14,8,\"L8\",15,9,\"L9\",17,11,\"L11\"");
    // Where the lines kept before each row begin.
    EXPECT_EQ(page.near_at, (std::vector<std::size_t>{0, page.near_lines.find(",14,"), page.near_lines.size()}));
    EXPECT_TRUE(page.breaks.empty());
    // The lines are text as the page carries it.
    page.OnNearLine({"</script>\x01", 19, 13, 0, 1});
    EXPECT_EQ(page.near_lines.substr(page.near_lines.rfind(",19,")), ",19,13,\"\\u003c/script\\u003e\\u2401\"");
}

// The page finds a hit's window where the line numbers of an element step
// by one; where another element's numbers run on from those of the one
// before, only the engine's count of elements tells them apart.
TEST(PageLines, AnElementEndingIsToldFromTheNextOneNumberedOn) {
    Strings s({"A"});
    HtmlExport page;
    s.Begin(page);
    HitAt(page, s, 3, 2, 1);
    After(page, 4, 3, 1);
    After(page, 5, 4, 2);  // the element ends here
    for (int line = 5; line < 25; ++line) Before(page, static_cast<std::uint64_t>(line + 4), line, 25 - line);
    HitAt(page, s, 29, 25, 2);  // its lines kept from its 5th on: a break at the first of them
    HitAt(page, s, 30, 26, 2);  // the same element: none
    HitAt(page, s, 40, 27, 3);  // no line kept before it, numbered on: a break at the hit
    HitAt(page, s, 50, 1, 4);   // numbered from 1: the numbers tell already
    HitAt(page, s, 52, 3, 4);
    ASSERT_EQ(page.breaks.size(), 2u);
    EXPECT_EQ(page.breaks[0].row, 1u);
    EXPECT_EQ(page.breaks[0].export_line, 9u);
    EXPECT_EQ(page.breaks[1].row, 3u);
    EXPECT_EQ(page.breaks[1].export_line, 40u);
}

TEST(PageLines, OnlyTheLinesOfHitsKeptAreKept) {
    Strings s({"A"});
    HtmlExport page;
    s.Begin(page);
    page.limit = 1;
    HitAt(page, s, 3, 2, 1);
    After(page, 4, 3, 1);
    Before(page, 5, 4, 1);  // before a hit past the limit
    HitAt(page, s, 6, 5, 1);
    After(page, 7, 6, 1);
    EXPECT_EQ(page.near_lines, ",4,3,\"L3\"");
    EXPECT_EQ(page.omitted, 1u);
}

// Parts of one page searched at once drop the rows the page cannot show,
// and the lines kept for them with them; the lines after the last row
// kept stay, and none is kept after it from then on.
TEST(PageLines, APartDroppingRowsDropsTheirLines) {
    Strings s({"A"});
    PageBudget budget(2);
    budget.limit = 3;
    budget.publish_every = 1;
    HtmlExport first, second;
    first.budget = second.budget = &budget;
    first.index = 0;
    second.index = 1;
    s.Begin(first);
    s.Begin(second);
    // Three hits of the second part, two with a line before and after
    // each, the third in an element of its own numbered on.
    for (std::uint64_t k = 0; k < 2; ++k) {
        Before(second, 10 * k + 1, 1, 1);
        HitAt(second, s, 10 * k + 2, 2, 1);
        After(second, 10 * k + 3, 3, 1);
    }
    HitAt(second, s, 24, 4, 2);
    FinishHits(second);
    ASSERT_EQ(second.breaks.size(), 1u);
    HitAt(first, s, 1, 1, 1);
    HitAt(first, s, 2, 2, 1);  // room for one row of the second part left
    FinishHits(first);
    EXPECT_EQ(second.row_ends.size(), 1u);
    EXPECT_EQ(second.near_lines, ",1,1,\"L1\",3,3,\"L3\"");
    EXPECT_EQ(second.near_at.size(), 1u);
    EXPECT_TRUE(second.breaks.empty());
}

std::string Written(const std::vector<const HtmlExport*>& parts, const std::vector<std::string>& strings) {
    testutil::TempDir dir;
    const std::string path = dir / "page.html";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_TRUE(WriteHtmlReport(f, strings, false, parts));
    std::fclose(f);
    return testutil::ReadFile(path);
}

TEST(PageFile, OnePageLoadingNothingWithItsOwnScriptAlone) {
    Strings s({"<X>"});
    HtmlExport page;
    s.Begin(page);
    page.name = "</script>.xml";
    page.size = 10;
    page.result.lines = 4;
    page.result.counts = {{"<X>", 1}};
    const ScanContext c;
    const Hit hit{c, 1, "A <X> B", s.given, 2, 7};
    page.OnHit(hit);
    page.OnNearLine({"</script><b>", 3, 2, 0, 1});
    const std::string html = Written({&page}, {"<X>"});
    // Nor can the block of lines around hits.
    const std::size_t lines = html.find("id=\"report-lines\">") + 18, lines_end = html.find("</script>", lines);
    EXPECT_EQ(html.substr(lines, lines_end - lines),
              "[{\"breaks\":[],\"near\":[3,2,\"\\u003c/script\\u003e\\u003cb\\u003e\"]}]");
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(html.find("content=\"default-src 'none'; script-src 'sha256-"), std::string::npos);
    // The data block holds no "<" at all: nothing can end it early.
    const std::size_t data = html.find("id=\"report-data\">") + 17, end = html.find("</script>", data);
    EXPECT_EQ(html.substr(data, end - data).find('<'), std::string::npos);
    EXPECT_NE(html.find("\",\"reach\":[20,20],\"counts\":"), std::string::npos);  // each view's lines before and after its hit
    EXPECT_NE(html.find("\"name\":\"\\u003c/script\\u003e.xml\",\"size\":10,\"lines\":4"), std::string::npos);
    EXPECT_NE(html.find("\"counts\":[1],\"groups\":[[[],[],\"\"]],\"hits\":[[0,1,2,[0],\"A \",[0,\"\\u003cX\\u003e\"],\" B\"]],"
                        "\"omitted\":0}"),
              std::string::npos)
        << html.substr(data, end - data);
    for (const char* outside : {"http:", "https:", "src=", "href=", "@import", "url("})
        EXPECT_EQ(html.find(outside), std::string::npos) << outside;
}

TEST(PageFile, ThePageTakesNoMoreThanItsLimitOverAllExports) {
    Strings s({"A"});
    HtmlExport first, second;
    s.Begin(first);
    s.Begin(second);
    first.limit = second.limit = kHtmlHitLimit;
    const ScanContext c;
    for (std::size_t i = 0; i < kHtmlHitLimit - 1; ++i) {
        const Hit hit{c, 1, "A", s.given, 1, 0};
        first.OnHit(hit);
    }
    // Each hit of the second part with a line before and after it: only
    // those of the hit the page shows are written.
    for (std::uint64_t i = 0; i < 3; ++i) {
        Before(second, 3 * i + 1, 1, 1);
        const Hit hit{c, 2, "A", s.given, 3 * i + 2, 0};
        second.OnHit(hit);
        After(second, 3 * i + 3, 3, 1);
    }
    const std::string html = Written({&first, &second}, {"A"});
    const std::size_t at = html.rfind("\"hits\":[");
    EXPECT_EQ(html.substr(at, 30), "\"hits\":[[0,2,2,[0],[0,\"A\"]]],\"");
    EXPECT_NE(html.find("\"omitted\":2}", at), std::string::npos);
    EXPECT_NE(html.find("id=\"report-lines\">[{\"breaks\":[],\"near\":[]},"
                        "{\"breaks\":[],\"near\":[1,1,\"L1\",3,3,\"L3\"]}]</script>"),
              std::string::npos);
}

// Parts of one page searched at once keep no more than the page can show:
// the first hits in the order of the exports, whichever part has its hits
// first; what they keep in the end does not depend on that order.
TEST(PageFile, PartsSearchedAtOnceKeepOnlyWhatThePageShows) {
    Strings s({"A"});
    PageBudget budget(3);
    budget.limit = 10;
    budget.publish_every = 2;
    HtmlExport parts[3];
    for (std::size_t k = 0; k < 3; ++k) {
        s.Begin(parts[k]);
        parts[k].budget = &budget;
        parts[k].index = k;
    }
    auto hits = [&](HtmlExport& part, int n) {
        for (int i = 0; i < n; ++i) {
            ScanContext c;
            c.current_form = "F" + std::to_string(i);  // a group for each hit
            const Hit hit{c, 1, "A", s.given, static_cast<std::uint64_t>(i + 1), 0};
            part.OnHit(hit);
        }
    };
    hits(parts[1], 8);  // nothing known before it yet: all 8 kept
    FinishHits(parts[1]);
    EXPECT_EQ(parts[1].row_ends.size(), 8u);
    hits(parts[2], 5);  // 8 before it: room for 2
    FinishHits(parts[2]);
    EXPECT_EQ(parts[2].row_ends.size(), 2u);
    hits(parts[0], 6);  // the first 6: parts 1 and 2, finished, give up what no longer fits
    EXPECT_EQ(parts[1].row_ends.size(), 4u);
    EXPECT_EQ(parts[2].row_ends.size(), 0u);
    FinishHits(parts[0]);
    const std::size_t kept[3] = {6, 4, 0};
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(parts[k].row_ends.size(), kept[k]) << k;
        EXPECT_EQ(parts[k].groups.size(), kept[k]) << k;  // and the groups of those alone
        EXPECT_EQ(parts[k].group_of.size(), kept[k]) << k;
        EXPECT_EQ(parts[k].rows.size(), kept[k] ? parts[k].row_ends.back() : 0u) << k;
    }
    EXPECT_EQ(parts[1].omitted, 4u);
    EXPECT_EQ(parts[2].omitted, 5u);
    // The rows kept are the first ones.
    EXPECT_EQ(parts[1].groups.back(), "[[\"Form:\",\"F3\"],[],\"\"]");
}

}  // namespace
