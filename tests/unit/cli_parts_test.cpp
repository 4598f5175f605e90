// The command line's parts on their own: reading the arguments, wildcards,
// and the exports that folders stand for.
#include <gtest/gtest.h>

#include "../cli/exports.h"
#include "../cli/options.h"
#include "test_util.h"

namespace {

using testutil::WriteFile;

// Parses a command line; the arguments stand for themselves as bytes too.
Options Parse(std::vector<std::string> args, std::string* error = nullptr) {
    args.insert(args.begin(), "reposearch");
    Options o;
    std::string e;
    const bool ok = ParseOptions(args, args, o, e);
    if (error) *error = ok ? "" : e;
    EXPECT_TRUE(ok || error) << e;
    return o;
}

std::vector<std::string> Strings(const Options& o) {
    std::vector<std::string> out;
    for (const Options::Source& s : o.sources) out.push_back((s.is_file ? "file:" : "") + s.text);
    return out;
}

using V = std::vector<std::string>;

TEST(Operands, WithoutEOrFTheFirstIsTheExportAndTheRestAreStrings) {
    Options o = Parse({"repo.xml", "custno", "-q", "calc"});
    EXPECT_EQ(o.exports, V{"repo.xml"});
    EXPECT_EQ(Strings(o), (V{"custno", "calc"}));
    EXPECT_TRUE(o.quiet);
}

TEST(Operands, WithEOrFEveryOperandIsAnExport) {
    Options o = Parse({"-e", "custno", "a.xml", "-f", "list.txt", "folder", "-", "-e-x"});
    EXPECT_EQ(o.exports, (V{"a.xml", "folder", "-"}));
    EXPECT_EQ(Strings(o), (V{"custno", "file:list.txt", "-x"}));
    // Strings and files keep their command-line order.
    o = Parse({"-qwecalc", "--file=a.txt", "--file", "b.txt", "-fc.txt", "x.xml"});
    EXPECT_EQ(Strings(o), (V{"calc", "file:a.txt", "file:b.txt", "file:c.txt"}));
    EXPECT_TRUE(o.quiet && o.word);
    // After "--" a dash starts an operand, here a string.
    o = Parse({"--", "x.xml", "-X"});
    EXPECT_EQ(o.exports, V{"x.xml"});
    EXPECT_EQ(Strings(o), V{"-X"});
}

TEST(Operands, LongOptionsWithAValueTakeBothSpellings) {
    for (const V& args : {V{"--log=out.txt", "--jobs=3", "--html=page.html", "x.xml"},
                          V{"--log", "out.txt", "--jobs", "3", "--html", "page.html", "x.xml"},
                          V{"-j3", "--log", "out.txt", "--html=page.html", "x.xml"}}) {
        Options o = Parse(args);
        EXPECT_TRUE(o.log_given);
        EXPECT_EQ(o.log_name, "out.txt");
        EXPECT_EQ(o.jobs, 3);
        EXPECT_TRUE(o.html_given);
        EXPECT_EQ(o.html_name, "page.html");
    }
}

TEST(Operands, GroupedShortOptionsAndContextAsInGrep) {
    Options o = Parse({"-qe", "custno", "x.xml"});
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(Strings(o), V{"custno"});
    EXPECT_EQ(Parse({"-qh"}).action, Options::Action::ShortHelp);
    EXPECT_EQ(Parse({"-wqh", "x.xml"}).action, Options::Action::ShortHelp);
    o = Parse({"-lqc", "--log", "x.log", "x.xml", "s"});
    EXPECT_TRUE(o.files_with_matches && o.count && o.quiet && o.log_name == "x.log");
    // -A and -B given win over -C, whatever the order.
    for (const V& args : {V{"-A", "3", "-C", "1", "x.xml", "s"}, V{"-C1", "-A3", "x.xml", "s"}}) {
        o = Parse(args);
        EXPECT_EQ(o.after, 3);
        EXPECT_EQ(o.before, 1);
    }
    o = Parse({"-B", "0", "--context=4", "x.xml", "s"});
    EXPECT_EQ(o.after, 4);
    EXPECT_EQ(o.before, 0);
}

TEST(Operands, UsageErrorsSayWhat) {
    std::string error;
    for (const V& args : {V{"-j", "0", "x.xml"}, V{"--jobs=many", "x.xml"}, V{"-j"}, V{"x.xml", "-e"},
                          V{"--log=", "x.xml"}, V{"--html", "-", "x.xml"}, V{"--bogus", "x.xml"},
                          V{"--json=yes", "x.xml"}, V{"-qz", "x.xml"}, V{"-e", "custno"}, V{}}) {
        Parse(args, &error);
        EXPECT_FALSE(error.empty()) << testing::PrintToString(args);
    }
    Parse({"-e", "custno"}, &error);
    EXPECT_EQ(error, "no export given");
    Parse({"-j", "0", "x.xml"}, &error);
    EXPECT_EQ(error, "-j needs a number of exports from 1 to 10000, not '0'");
}

TEST(Wildcards, StarAndQuestionMarkWithoutRegardToCase) {
    EXPECT_TRUE(MatchesWildcard("*.xml", "Sales.XML"));
    EXPECT_TRUE(MatchesWildcard("*", ""));
    EXPECT_TRUE(MatchesWildcard("s?les*", "sales2026.xml"));
    EXPECT_TRUE(MatchesWildcard("*ab", "aab"));  // the star gives back what it took
    EXPECT_TRUE(MatchesWildcard("*a*b*c", "xaxbxbxc"));
    EXPECT_FALSE(MatchesWildcard("*.xml", "sales.xml.log"));
    EXPECT_FALSE(MatchesWildcard("?", ""));
    EXPECT_FALSE(MatchesWildcard("a*b", "acbd"));
}

TEST(Wildcards, ExpandToTheSortedMatchesOrStandForThemselves) {
    testutil::TempDir dir;
    for (const char* name : {"b.xml", "A.XML", "c.log", "a2.xml"}) WriteFile(dir / name, "");
    testutil::fs::create_directory(dir / "d.xml");
    const std::string folder = dir.path.string();
    EXPECT_EQ(ExpandWildcards(folder + "/*.xml"),
              (V{folder + "/A.XML", folder + "/a2.xml", folder + "/b.xml", folder + "/d.xml"}));
    EXPECT_EQ(ExpandWildcards(folder + "/?.LOG"), V{folder + "/c.log"});
    EXPECT_EQ(ExpandWildcards(folder + "/*.none"), V{});
    EXPECT_EQ(ExpandWildcards(folder + "/b.xml"), V{folder + "/b.xml"});
    // As operands: one that matches nothing is an export that fails at
    // once (no log, no search), in its place among the others.
    ExportList list = ListExports({folder + "/b.*", folder + "/*.none", folder + "/c.log"}, true);
    ASSERT_EQ(list.exports.size(), 3u);
    EXPECT_EQ(list.exports[0].failure, "");
    EXPECT_EQ(list.exports[1].name, folder + "/*.none");
    EXPECT_EQ(list.exports[1].failure, "no file matches");
    EXPECT_EQ(list.exports[2].name, folder + "/c.log");
    // Left alone where the shell expands them.
    list = ListExports({folder + "/*.none"}, false);
    ASSERT_EQ(list.exports.size(), 1u);
    EXPECT_EQ(list.exports[0].failure, "");
}

TEST(Folders, GiveTheirXmlFilesNestedAndSorted) {
    testutil::TempDir dir;
    const std::string root = dir.path.string();
    testutil::fs::create_directories(dir / "sales/2026");
    testutil::fs::create_directories(dir / "empty");
    testutil::fs::create_directories(dir / "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82\xD1\x8B");  // Cyrillic
    for (const char* name : {"b.xml", "a.XML", "notes.txt", "a.log", "sales/z.xml", "sales/2026/q1.xml",
                             "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82\xD1\x8B/\xD0\xB4.xml"})
        WriteFile(dir / name, "");
    ExportList list = ListExports({root, "-", root + "/b.xml"}, false);
    EXPECT_TRUE(list.folders);
    V names;
    for (const ExportItem& item : list.exports) names.push_back(item.from_stdin ? "<stdin>" : item.name);
    EXPECT_EQ(names, (V{root + "/a.XML", root + "/b.xml", root + "/sales/2026/q1.xml", root + "/sales/z.xml",
                        root + "/\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82\xD1\x8B/\xD0\xB4.xml", "<stdin>",
                        root + "/b.xml"}));
    EXPECT_EQ(list.empty_folders, V{});
    list = ListExports({root + "/empty", root + "/sales"}, false);
    EXPECT_TRUE(list.folders);
    EXPECT_EQ(list.exports.size(), 2u);
    EXPECT_EQ(list.empty_folders, V{root + "/empty"});
    list = ListExports({root + "/missing.xml"}, false);
    EXPECT_FALSE(list.folders);
    ASSERT_EQ(list.exports.size(), 1u);  // the run says it cannot be opened
    EXPECT_EQ(list.exports[0].name, root + "/missing.xml");
}

#ifndef _WIN32
TEST(Folders, LinksToFoldersAreNotFollowed) {
    testutil::TempDir dir;
    testutil::fs::create_directories(dir / "real");
    WriteFile(dir / "real/x.xml", "");
    testutil::fs::create_directory_symlink(dir.path, dir / "real/loop");
    const std::vector<ExportItem> items = ListExports({dir / "real"}, false).exports;
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, dir / "real/x.xml");
}
#endif

}  // namespace
