// The multi-string matcher against a plain substring search of the
// upper-cased line, over strings of mixed lengths that share prefixes.
#include <gtest/gtest.h>

#include <random>

#include "match_log.h"
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
        RunState run;
        std::vector<std::string> strings;
        std::string text;
        for (int i = 1 + static_cast<int>(rng() % 12); i > 0; --i) {
            strings.push_back(Upper(random_text(6)));
            if (rng() % 5 == 0) strings.back() = random_text(3);  // may hold a to z
            text += strings.back() + "\r\n";
        }
        ASSERT_EQ(BuildSrchStrings(run, text), 1);
        std::vector<std::int64_t> expected(strings.size(), 0);
        for (int l = 0; l < 40; ++l) {
            std::string line = random_text(30);
            std::string upper = Upper(line);
            for (std::size_t i = 0; i < strings.size(); ++i)
                expected[i] += upper.find(strings[i]) != std::string::npos;
            bool any_expected = false;
            for (const std::string& s : strings) any_expected |= upper.find(s) != std::string::npos;
            bool any_found = FindAny(run.matcher, line, 0) != std::string_view::npos ||
                             !run.matcher.empties.empty();
            EXPECT_EQ(any_found, any_expected) << line;
            MatchLine(run.matcher, run.found, line);
        }
        // The list is newest first.
        std::size_t i = strings.size();
        for (SearchString* s = run.next_srch_string; s; s = s->next_string)
            EXPECT_EQ(s->matching_lines, expected[--i]) << "'" << strings[i] << "'";
        DeAllocateEverything(run);
    }
}

TEST(Matcher, ManyStringsWithOneLongPrefix) {
    RunState run;
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "COMMON_PREFIX_" + std::to_string(i) + "\r\n";
    ASSERT_EQ(BuildSrchStrings(run, text), 1);
    // _1999 holds _1, _19 and _199 too.
    EXPECT_EQ(MatchLine(run.matcher, run.found, "x common_prefix_1999 common_prefix_7 COMMON_PREFIX_"), 5);
    DeAllocateEverything(run);
}

TEST(Matcher, StringsThatCanNeverMatchAreLeftOut) {
    RunState run;
    ASSERT_EQ(BuildSrchStrings(run, "lower\r\nA\nB\r\nOK"), 1);
    EXPECT_EQ(run.matcher.needles.size(), 1u);
    EXPECT_EQ(MatchLine(run.matcher, run.found, "lower a\nb ok"), 1);
    DeAllocateEverything(run);
}

}  // namespace

namespace {

// FindAny gives the first place where any string starts, whichever way it
// searches (probes, fingerprints at a tuned offset, or byte-pair skips).
TEST(Matcher, FindAnyGivesTheFirstStartForAnyNumberOfStrings) {
    std::mt19937 rng(7);
    auto random_text = [&](std::size_t min, std::size_t max) { return RandomText(rng, "abcAB_ <\x80", min, max); };
    for (int round = 0; round < 200; ++round) {
        RunState run;
        std::vector<std::string> strings;
        std::string list;
        const int count = 1 + static_cast<int>(rng() % 40);
        const std::size_t shortest = 1 + rng() % 5;
        for (int i = 0; i < count; ++i) {
            strings.push_back(Upper(random_text(shortest, shortest + rng() % 8)));
            list += strings.back() + "\r\n";
        }
        ASSERT_EQ(BuildSrchStrings(run, list), 1);
        const std::string text = random_text(0, 3000);
        TuneMatcher(run.matcher, text.substr(0, rng() % 2 ? text.size() : 0));
        const std::string upper = Upper(text);
        // Every width of fingerprint the processor can run.
        std::vector<int> widths = {run.matcher.fingerprint_width};
        if (widths[0] == 32) widths.push_back(16);
        for (int width : widths) {
            run.matcher.fingerprint_width = width;
            for (std::size_t from = 0; from <= text.size(); from += 1 + rng() % 200) {
                std::size_t expected = std::string::npos;
                for (const std::string& s : strings) expected = std::min(expected, upper.find(s, from));
                ASSERT_EQ(FindAny(run.matcher, text, from), expected)
                    << "round " << round << ", " << count << " strings, width " << width << ", from " << from;
            }
        }
        DeAllocateEverything(run);
    }
}

}  // namespace

namespace {

// Builds the strings as given and tests one line: which strings it holds.
std::vector<std::string> Holds(const std::vector<std::string>& strings, std::string_view line, bool word) {
    RunState run;
    EXPECT_EQ(BuildSrchStrings(run, strings, word), 1);
    MatchLine(run.matcher, run.found, line);
    std::vector<std::string> found;
    for (const SearchString* s : run.found.found) found.emplace_back(s->allocated_string);
    DeAllocateEverything(run);
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
