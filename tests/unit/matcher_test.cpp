// The multi-string matcher against a plain substring search of the
// upper-cased line, over strings of mixed lengths that share prefixes.
#include <gtest/gtest.h>

#include <random>

#include "matcher.h"
#include "test_util.h"

namespace {

// min to max bytes drawn from the alphabet.
std::string RandomText(std::mt19937& rng, std::string_view alphabet, std::size_t min, std::size_t max) {
    std::string s(min + rng() % (max - min + 1), ' ');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    return s;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(Fold(c));
    return s;
}

TEST(Matcher, AgreesWithPlainSearchOnRandomLines) {
    std::mt19937 rng(42);
    auto random_text = [&](std::size_t max) { return RandomText(rng, "abAB_ c\t<\xE9", 0, max); };
    for (int round = 0; round < 300; ++round) {
        Matcher matcher;
        LineMatch found;
        std::vector<std::string> strings;
        for (int i = 1 + static_cast<int>(rng() % 12); i > 0; --i) {
            strings.push_back(Upper(random_text(6)));
            if (rng() % 5 == 0) strings.back() = random_text(3);  // may hold a to z
        }
        BuildMatcher(matcher, strings);
        std::vector<std::int64_t> expected(strings.size(), 0), counts(strings.size(), 0);
        for (int l = 0; l < 40; ++l) {
            std::string line = random_text(30);
            std::string upper = Upper(line);
            for (std::size_t i = 0; i < strings.size(); ++i)
                expected[i] += upper.find(strings[i]) != std::string::npos;
            bool any_expected = false;
            for (const std::string& s : strings) any_expected |= upper.find(s) != std::string::npos;
            bool any_found = FindAny(matcher, line, 0) != std::string_view::npos || !matcher.empties.empty();
            EXPECT_EQ(any_found, any_expected) << line;
            MatchLine(matcher, found, line);
            for (std::uint32_t s : found.found) ++counts[s];
        }
        EXPECT_EQ(counts, expected);
    }
}

TEST(Matcher, ManyStringsWithOneLongPrefix) {
    Matcher matcher;
    LineMatch found;
    std::vector<std::string> strings;
    for (int i = 0; i < 2000; ++i) strings.push_back("COMMON_PREFIX_" + std::to_string(i));
    BuildMatcher(matcher, strings);
    // _1999 holds _1, _19 and _199 too.
    EXPECT_EQ(MatchLine(matcher, found, "x common_prefix_1999 common_prefix_7 COMMON_PREFIX_"), 5);
}

TEST(Matcher, StringsThatCanNeverMatchAreLeftOut) {
    Matcher matcher;
    LineMatch found;
    BuildMatcher(matcher, {"lower", "A\nB", "OK"});
    EXPECT_EQ(matcher.needle_text.size(), 1u);
    EXPECT_EQ(MatchLine(matcher, found, "lower a\nb ok"), 1);
}

}  // namespace

namespace {

// FindAny gives the first place where any string starts, whichever way it
// searches (probes, fingerprints at a tuned offset, or byte-pair skips).
TEST(Matcher, FindAnyGivesTheFirstStartForAnyNumberOfStrings) {
    std::mt19937 rng(7);
    auto random_text = [&](std::size_t min, std::size_t max) { return RandomText(rng, "abcAB_ <\x80", min, max); };
    for (int round = 0; round < 200; ++round) {
        Matcher matcher;
        std::vector<std::string> strings;
        const int count = 1 + static_cast<int>(rng() % 40);
        const std::size_t shortest = 1 + rng() % 5;
        for (int i = 0; i < count; ++i) strings.push_back(Upper(random_text(shortest, shortest + rng() % 8)));
        BuildMatcher(matcher, strings);
        const std::string text = random_text(0, 3000);
        TuneMatcher(matcher, text.substr(0, rng() % 2 ? text.size() : 0));
        const std::string upper = Upper(text);
        // Every width of fingerprint the processor can run.
        std::vector<int> widths = {matcher.fingerprint_width};
        if (widths[0] == 32) widths.push_back(16);
        for (int width : widths) {
            matcher.fingerprint_width = width;
            for (std::size_t from = 0; from <= text.size(); from += 1 + rng() % 200) {
                std::size_t expected = std::string::npos;
                for (const std::string& s : strings) expected = std::min(expected, upper.find(s, from));
                ASSERT_EQ(FindAny(matcher, text, from), expected)
                    << "round " << round << ", " << count << " strings, width " << width << ", from " << from;
            }
        }
    }
}

}  // namespace

namespace {

// Builds the strings as given and tests one line: which strings it holds.
std::vector<std::string> Holds(const std::vector<std::string>& strings, std::string_view line, bool word) {
    Matcher matcher;
    LineMatch lm;
    BuildMatcher(matcher, strings, word);
    MatchLine(matcher, lm, line);
    std::vector<std::string> found;
    for (std::uint32_t s : lm.found) found.push_back(strings[s]);
    return found;
}

using Found = std::vector<std::string>;

TEST(WholeWords, OnlyWhereNoLetterDigitOrUnderscoreTouchesTheString) {
    const std::vector<std::string> custno = {"CUSTNO"};
    EXPECT_EQ(Holds(custno, "PCUSTNO = CUSTNO_OLD", true), Found{});
    EXPECT_EQ(Holds(custno, "PCUSTNO = CUSTNO2", true), Found{});
    EXPECT_EQ(Holds(custno, "PCUSTNO = CUSTNO_OLD", false), custno);
    // A later occurrence counts when the first does not.
    EXPECT_EQ(Holds(custno, "PCUSTNO(custno)", true), custno);
    EXPECT_EQ(Holds(custno, "custno", true), custno);
    EXPECT_EQ(Holds(custno, "\"CUSTNO\"", true), custno);
    EXPECT_EQ(Holds(custno, "CUSTNO\xE9", true), custno);  // only ASCII is a word byte
    // The string's own edges may be anything.
    EXPECT_EQ(Holds({"CALC("}, "X = CALC( 1)", true), Found{"CALC("});
    EXPECT_EQ(Holds({"CALC("}, "X = CALC(1)", true), Found{});
    EXPECT_EQ(Holds({"CALC("}, "XCALC( 1)", true), Found{});
}

TEST(WholeWords, ManyStringsAndEveryMethodOfSearch) {
    // Enough strings to go past the probes and the fingerprints.
    for (std::size_t n : {1u, 6u, 40u}) {
        std::vector<std::string> strings;
        for (std::size_t i = 0; i < n; ++i) strings.push_back("AB" + std::to_string(i) + "X");
        std::string hit = strings[n - 1];
        EXPECT_EQ(Holds(strings, "Z" + hit + " " + hit + "Z", true), Found{}) << n;
        EXPECT_EQ(Holds(strings, "Z" + hit + " (" + hit + ")", true), Found{hit}) << n;
    }
}

TEST(WholeWords, TheEmptyStringNeedsAPlaceBetweenTwoOtherBytes) {
    // As grep -w takes an empty pattern.
    EXPECT_EQ(Holds({""}, "ABC", true), Found{});
    EXPECT_EQ(Holds({""}, "A B", true), Found{});
    EXPECT_EQ(Holds({""}, "A  B", true), Found{""});
    EXPECT_EQ(Holds({""}, "(ABC", true), Found{""});
    EXPECT_EQ(Holds({""}, "ABC;", true), Found{""});
    EXPECT_EQ(Holds({""}, "ABC", false), Found{""});
}

TEST(MatchLine, ListsTheStringsFoundInTheOrderGiven) {
    const std::vector<std::string> strings = {"ZED", "", "ALPHA", "MID", "NOWHERE", "ALPHA"};
    EXPECT_EQ(Holds(strings, "alpha mid zed", false), (Found{"ZED", "", "ALPHA", "MID", "ALPHA"}));
    EXPECT_EQ(Holds(strings, "mid", false), (Found{"", "MID"}));
}

}  // namespace
