// Where hits count: the patterns of --in and --not-in, how limits add up, and
// what the log's header says of them.
#include <gtest/gtest.h>

#include "search_limits.h"

namespace {

TEST(Patterns, StarsQuestionMarksAndTheCaseOfAToZ) {
    struct Case {
        const char* pattern;
        const char* text;
        bool matches;
    };
    const Case cases[] = {
        {"UCODE", "UCODE", true},       {"UCODE", "UCODEX", false},    {"UPROC*", "UPROC", true},
        {"UPROC*", "UPROCS_1", true},   {"*PROC", "UPROC", true},      {"U*E", "UCODE", true},
        {"U*E", "UCODES", false},       {"U?ODE", "UCODE", true},      {"U?ODE", "UODE", false},
        {"*", "", true},                {"?", "", false},              {"A*B*C", "AXXBYYBZC", true},
        {"A*B*C", "AXXBYYBZ", false},   {"ORDERS", "orders", true},    {"ÉTÉ", "été", false},
        {"**X", "X", true},             {"*A*A*A*A*B", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", false},
        // Wildcards stay wildcards opposite a "*" or "?" of the name; an
        // escape makes one stand for itself.
        {"*", "A*B", true},             {"A*", "A*B", true},           {"*X", "*X", true},
        {"A?B", "A*B", true},           {"?X", "*X", true},            {"A\\*", "A*B", false},
        {"A\\**", "A*B", true},         {"A\\*B", "AXB", false},       {"\\?X", "*X", false},
        {"A\\,B", "A,B", true},         {"A\\\\B", "A\\B", true},      {"A\\", "A\\", true},
        // "?" is one character of UTF-8, or one byte of another code page.
        {"?T?", "\xC3\xA9T\xC3\xA9", true}, {"??T", "\xC3\xA9T", false}, {"?T", "\xE9T", true},
        {"*?", "\xC3\xA9", true},         {"*??", "\xC3\xA9", false},      {"?", "\xF0\x9F\x98\x80", true},
    };
    for (const Case& c : cases) EXPECT_EQ(PatternMatches(c.pattern, c.text), c.matches) << c.pattern << " " << c.text;
}

TEST(Limits, FieldsGivenAgainAddPatternsAndUnsetFieldsMatchNothing) {
    Limits limits;
    std::string error;
    ASSERT_TRUE(AddLimit(limits, "element=ucode,usource", true, error)) << error;
    ASSERT_TRUE(AddLimit(limits, "element=UPROC*", true, error));
    ASSERT_TRUE(AddLimit(limits, "form=*X*", false, error));
    ASSERT_EQ(limits.in.size(), 1u);
    EXPECT_EQ(limits.in[0].patterns, (std::vector<std::string>{"UCODE", "USOURCE", "UPROC*"}));
    EXPECT_EQ(DescribeLimits(limits), "only where element is UCODE, USOURCE or UPROC*\nonly where form is not *X*\n");

    ScanContext c;
    c.current_trigger = "UPROC_1";
    EXPECT_TRUE(WithinLimits(limits, c));  // no form: not in *X*
    c.current_form = "XFORM";
    EXPECT_FALSE(WithinLimits(limits, c));
    c.current_form = "FORM";
    c.current_trigger = "UDESCR";
    EXPECT_FALSE(WithinLimits(limits, c));

    Limits some_form;
    ASSERT_TRUE(AddLimit(some_form, "form=*", true, error));
    EXPECT_FALSE(WithinLimits(some_form, ScanContext{}));
    EXPECT_TRUE(WithinLimits(Limits{}, ScanContext{}));
}

TEST(Limits, BadSpecificationsSayWhatIsWrong) {
    for (const char* limit : {"colour=x", "element", "=x", "elements=x", "element =x"}) {
        Limits limits;
        std::string error;
        EXPECT_FALSE(AddLimit(limits, limit, true, error)) << limit;
        EXPECT_NE(error.find("library, form, global, entry, menubar, glyph, sourcetype, model, table, field, element"),
                  std::string::npos)
            << error;
    }
    for (const char* limit : {"element=", "element=A,", "element=,A", "element=A,,B", "element=A\\"}) {
        Limits limits;
        std::string error;
        EXPECT_FALSE(AddLimit(limits, limit, false, error)) << limit;
        EXPECT_NE(error.find(std::string(limit).back() == '\\' ? "lone \\" : "empty pattern"), std::string::npos) << error;
        EXPECT_TRUE(limits.Empty());
    }
}

TEST(Limits, FieldNamesInAnyCaseAndCommasWithinPatterns) {
    Limits limits;
    std::string error;
    ASSERT_TRUE(AddLimit(limits, "Library=orders", true, error)) << error;
    ASSERT_TRUE(AddLimit(limits, "FORM=A\\,B,C\\*", true, error)) << error;
    ASSERT_EQ(limits.in.size(), 2u);
    EXPECT_EQ(limits.in[1].patterns, (std::vector<std::string>{"A\\,B", "C\\*"}));
    EXPECT_EQ(DescribeLimits(limits), "only where library is ORDERS\nonly where form is A\\,B or C\\*\n");
}

}  // namespace
