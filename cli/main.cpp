// reposearch on the command line: the same search as the dialog, with the
// strings and the exports given as arguments, for scripts and other programs.
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "../engine/paths.h"
#include "../engine/utf16.h"
#include "checks.h"
#include "exports.h"
#include "interrupt.h"
#include "options.h"
#include "runs.h"
#include "terminal.h"
#include "print_sink.h"
#include "version.h"

namespace {

constexpr const char* kVersion = "reposearch " REPOSEARCH_VERSION;

constexpr const char* kUsage =
    "usage: reposearch [OPTION]... EXPORT [STRING]...\n"
    "       reposearch [OPTION]... -e STRING... | -f FILE... EXPORT...\n";

// -h: every option at a glance.
constexpr const char* kShortHelp =
    "  -e STRING           search for STRING; every operand is then an export\n"
    "  -f, --file FILE     add every line of FILE as a string (- for standard input)\n"
    "  -w, --word          match whole words only\n"
    "  -q, --quiet         show no progress\n"
    "  -j, --jobs N        search up to N exports at once\n"
    "  --in FIELD=PATTERN  count hits only where FIELD matches (library, form, ...,\n"
    "                      field, element); * and ? as in file names, \\* for a *\n"
    "  --not-in FIELD=PATTERN  and never where it does\n"
    "  --print             write each hit on standard output as\n"
    "                      EXPORT:LINE:COLUMN:CONTEXT :: DATA\n"
    "  --color[=WHEN]      with it, highlight the strings: auto, always or never\n"
    "  -A, --after-context N, -B, --before-context N, -C, --context N\n"
    "                      N lines of the element after, before, around each hit\n"
    "  --json              write the hits as JSON Lines on standard output\n"
    "  -c, --count         print EXPORT:COUNT for each export (matching lines), each\n"
    "                      string's count after a tab when there are several\n"
    "  -l, --files-with-matches  print the name of each export with a hit\n"
    "  --html FILE         write the hits to FILE as a page to look at in a browser\n"
    "  --log FILE          write the log to FILE (- for standard output)\n"
    "  --check             search nothing: tell where the reading loses or\n"
    "                      misplaces text in each export\n"
    "  -h, --help, --version  this, the whole help, the version\n"
    "EXPORT - reads standard input; a folder is searched for .xml files.\n"
    "'reposearch --help' tells more.\n";

// --help: the whole story.
constexpr const char* kHelp =
    "Searches repository exports for strings and logs every data line that\n"
    "holds one, with the library, form, table, field and element it stands in.\n"
    "\n"
    "Strings:\n"
    "  Each string is searched for, without regard to the case of the letters a\n"
    "  to z. A string holding line breaks is several strings; an empty string\n"
    "  matches every data line.\n"
    "  -e STRING        search for STRING (repeatable); with -e or -f, every\n"
    "                   operand is an export, else the first operand is the\n"
    "                   export and the others are strings\n"
    "  -f, --file FILE  add every line of FILE as a string (- reads standard input);\n"
    "                   a file that holds none adds nothing\n"
    "  -w, --word       a string counts only where no letter, digit or _ stands\n"
    "                   right before or after it\n"
    "  A string that starts with - is given with -e, or after --.\n"
    "\n"
    "Where to look:\n"
    "  --in FIELD=PATTERN      a hit counts only where FIELD matches PATTERN\n"
    "  --not-in FIELD=PATTERN  and only where it does not\n"
    "  FIELD is one of the context's fields as the log names them (library, form,\n"
    "  global, entry, menubar, glyph, sourcetype, model, table, field) or element\n"
    "  (the element's name, as after Trigger:), in any case. PATTERN is a name\n"
    "  with * for any characters and ? for one (of UTF-8, or else a byte), blind\n"
    "  to the case of a to z; \\*, \\?, \\, and \\\\ stand for *, ?, a comma and a\n"
    "  backslash of the name. Several patterns, separated by commas, match if any\n"
    "  does. A field that is not set matches nothing (so --in form=* means within\n"
    "  a form). Every --in must match (one field given twice matches either) and\n"
    "  no --not-in may. A hit outside is no hit: it is not counted, logged or\n"
    "  reported anywhere; the log's header, the page and the JSON begin record\n"
    "  say which limits applied, the patterns as written.\n"
    "\n"
    "Exports:\n"
    "  EXPORT           an export file; - reads standard input (its log then goes\n"
    "                   to standard output unless --log names a file); a folder\n"
    "                   is searched for files whose names end in .xml, in the\n"
    "                   folders under it too, in sorted order (a folder that\n"
    "                   holds none is named on standard error)\n"
    "  -j, --jobs N     search up to N exports at once (default: one per core);\n"
    "                   what they write to standard output or to one log comes\n"
    "                   in the order they were given\n"
    "\n"
    "Output:\n"
    "  Each export's log goes beside it, named after it up to the first dot\n"
    "  (after the leading dots: .hidden.xml gives .hidden.log), never through a\n"
    "  symbolic link found there; a link given to --log or --html is followed.\n"
    "  --log FILE       write the log (every export's, one after another) to\n"
    "                   FILE instead; - for standard output\n"
    "  --json           write JSON Lines on standard output in place of the\n"
    "                   summary: for each export a begin record, one match\n"
    "                   record per matching data line and an end record with the\n"
    "                   outcome and the counts; after several exports, a summary\n"
    "                   record with the totals\n"
    "  -c, --count      in place of the summary, a line for each export whose\n"
    "                   search completed, in the order given: EXPORT:COUNT, COUNT\n"
    "                   being its data lines that hold a string (a line with two\n"
    "                   counts once); with several strings, each one's count\n"
    "                   follows after a tab, in the order given. Whatever the\n"
    "                   names or the strings hold, what follows the last : is\n"
    "                   the counts alone\n"
    "  -l, --files-with-matches  in place of the summary, the name of each\n"
    "                   export whose search completed with a hit, in the order\n"
    "                   given; -l wins over -c. With either, the logs are\n"
    "                   written as always, an export that fails gets no line\n"
    "                   (its message goes to standard error), and a name goes\n"
    "                   to a pipe or a file as it is\n"
    "  --html FILE      also write the hits to FILE as a page to look at in a\n"
    "                   browser: grouped by export, component, table and field,\n"
    "                   element, each string highlighted, with a filter; each hit\n"
    "                   opens onto the lines of its element around it (20 before\n"
    "                   and after; -B N, -A N and -C N set how many); one file\n"
    "                   that loads nothing (at most 200,000 hits; the log has all),\n"
    "                   put in place once complete\n"
    "  --print          write each hit on standard output as\n"
    "                   EXPORT:LINE:COLUMN:CONTEXT :: DATA (the column, from 1, of\n"
    "                   the first string in the export's line), as editors' quickfix\n"
    "                   lists and grep modes read; the summary goes to standard\n"
    "                   error and the log is written as always\n"
    "  --color[=WHEN]   with --print, highlight the strings and dim the place:\n"
    "                   auto (on a terminal, unless NO_COLOR is set), always or\n"
    "                   never. On a terminal, and whenever colour is on, the text\n"
    "                   of the export shows its control bytes as ^X, C1 controls\n"
    "                   as M-^X and the controls of text direction as <U+202E>;\n"
    "                   so do the log and every name written to a terminal (the\n"
    "                   summary, the messages), and JSON there escapes them\n"
    "                   as \\u202e\n"
    "  -A, --after-context N   with --print, --json or --html, up to N lines of the\n"
    "                   element after each hit (EXPORT-LINE-DATA, -- between\n"
    "                   groups; JSON context records; the page's view of an\n"
    "                   element, 20 lines by default), never past its end\n"
    "  -B, --before-context N  and before each hit, never before its start\n"
    "  -C, --context N  both, where -A or -B does not say; N from 0 to 1000; the\n"
    "                   log is unchanged by them\n"
    "  -q, --quiet      draw no progress on standard error\n"
    "\n"
    "Checking an export:\n"
    "  --check          search nothing and write no log: read each export (every\n"
    "                   operand is one) and tell, with a count and the first\n"
    "                   places of each, where the reading rules leave text that\n"
    "                   holds a tag unread, take an element for a context\n"
    "                   element by a part of a name, or keep an element open to\n"
    "                   the end of the export; with --json, one check record per\n"
    "                   export; exit status 0 when there is none, 1 when there\n"
    "                   are some, 2 when an export cannot be read\n"
    "\n"
    "  -h               show every option at a glance\n"
    "  --help           show this help\n"
    "  --version        show the version\n"
    "  Every long option that takes a value is also written --option=VALUE;\n"
    "  short ones may be grouped (-qw, -qe STRING).\n"
    "\n"
    "The summary goes to standard output, or to standard error when a log goes\n"
    "to standard output (-c and -l take its place); after several exports it\n"
    "lists each export's counts, then the totals. When a search fails, its\n"
    "messages go to standard error as 'reposearch: ...', naming the export\n"
    "when there are several; an export or a log that cannot be opened is told\n"
    "with the system's reason.\n"
    "\n"
    "Ctrl-C or SIGTERM stops the run within a moment, also one that waits for\n"
    "an export from a pipe that sends nothing: each log being written ends with\n"
    "a line saying after how many lines the search was interrupted, exports\n"
    "not yet started are not searched, the summary goes to standard error, the\n"
    "JSON end records say interrupted, and the page is left as it was. Hits going to\n"
    "a pipe whose reader takes nothing wait for it up to five seconds: it gets\n"
    "whole lines, the JSON ending in its end record, or nothing more. A second\n"
    "Ctrl-C ends the program at once.\n"
    "\n"
    "Examples:\n"
    "  reposearch repo.xml custno invoice_total\n"
    "  reposearch -w --json repo.xml custno > hits.jsonl\n"
    "  reposearch --html custno.html repo.xml custno\n"
    "  reposearch -e custno -e invoice_total exports/ old/sales.xml\n"
    "  reposearch -l -e custno exports/\n"
    "      (which exports use CUSTNO)\n"
    "  zcat repo.xml.gz | reposearch - custno > repo.log\n"
    "  reposearch --not-in element=UDESCR,UCOMMENT repo.xml custno\n"
    "      (where is CUSTNO used in code, not in descriptions)\n"
    "  reposearch --in library=ORDERS --print repo.xml calc_discount\n"
    "      (which forms of library ORDERS call CALC_DISCOUNT)\n"
    "  vim -q <(reposearch --print -q repo.xml custno)\n"
    "\n"
    "Exit status: 0 some string was found, 1 none was, 2 a search failed (the\n"
    "others are still made) or nothing was searched at all, 130 interrupted\n"
    "by Ctrl-C, 143 by SIGTERM, 141 when the reader of --print or --json went\n"
    "away (| head): the run stops as Ctrl-C stops it, the logs end saying where,\n"
    "and nothing is said on standard error.\n";

int UsageError(const std::string& what) {
    Tell(what);
    std::fputs(kUsage, stderr);
    return 2;
}

// Prints what was asked for on standard output: 0, or 2 when it did not
// get through.
int Print(const std::string& text) {
    if (WriteAll(stdout, text)) return 0;
    Tell(std::string("writing to standard output failed: ") + std::strerror(errno ? errno : EIO));
    return 2;
}

// Adds the lines of a text to the strings: LF or CR LF ends a line, and a
// final line break adds no empty string.
void AddLines(std::string_view text, std::vector<std::string>& strings) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) {
            strings.emplace_back(text.substr(start));
            return;
        }
        std::size_t stop = lf > start && text[lf - 1] == '\r' ? lf - 1 : lf;
        strings.emplace_back(text.substr(start, stop - start));
        start = lf + 1;
    }
}

// A string given as an argument: each line of it is a string, an empty one
// included (as grep takes its patterns).
void AddArgument(std::string_view text, std::vector<std::string>& strings) {
    AddLines(text, strings);
    if (text.empty() || text.back() == '\n') strings.emplace_back();
}

// A file of strings as the export would be read: a UTF-8 byte-order mark
// (as Notepad writes one) is no part of the first string, and a file in
// UTF-16, with a byte-order mark or without, is converted to UTF-8.
std::string AsExportIsRead(const std::string& bytes) {
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) return bytes.substr(3);
    const Encoding e = SniffEncoding(bytes, true, 1);
    if (!e.utf16) return bytes;
    Utf16Decoder decoder;
    decoder.big_endian = e.big_endian;
    decoder.raw.assign(bytes.begin() + static_cast<std::ptrdiff_t>(e.mark), bytes.end());
    std::string text;
    char block[4096];
    for (std::size_t n; (n = DecodeUtf16(decoder, block, sizeof block, true)) > 0;) text.append(block, n);
    return text;
}

// Adds every line of a file to the strings. False when it cannot be read.
bool ReadStringFile(const std::string& name, std::vector<std::string>& strings) {
    std::FILE* f = name == "-" ? stdin : OpenFile(name, "rb");
    if (!f) return false;
#ifdef _WIN32
    if (f == stdin) _setmode(_fileno(stdin), _O_BINARY);
#endif
    std::string bytes;
    char block[65536];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) bytes.append(block, n);
    bool ok = !std::ferror(f);
    if (f != stdin) std::fclose(f);
    if (!ok) return false;
    AddLines(AsExportIsRead(bytes), strings);
    return true;
}

// The program, over its arguments: `args` as UTF-8 (paths and options),
// `bytes` the same arguments as the search compares them (on Windows, in the
// ANSI code page, as the dialog's search field holds them).
int Main(const std::vector<std::string>& args, const std::vector<std::string>& bytes) {
    Options o;
    std::string error;
    if (!ParseOptions(args, bytes, o, error)) return UsageError(error);
    switch (o.action) {
    case Options::Action::ShortHelp: return Print(std::string(kUsage) + kShortHelp);
    case Options::Action::Help: return Print(std::string(kUsage) + "\n" + kHelp);
    case Options::Action::Version: return Print(std::string(kVersion) + "\n");
    case Options::Action::Search: break;
    }

#ifdef _WIN32
    const bool wildcards = true;  // the shell leaves them to the program
#else
    const bool wildcards = false;
#endif
    ExportList list = ListExports(o.exports, wildcards);
    const bool folders = list.folders;
    RunPlan plan;
    plan.exports = std::move(list.exports);
    plan.empty_folders = std::move(list.empty_folders);
    std::size_t from_stdin = 0;
    for (const ExportItem& e : plan.exports) from_stdin += e.from_stdin;
    if (from_stdin > 1) return UsageError("standard input is read only once");
    if (o.check) {
        if (!o.sources.empty() || o.print || o.count || o.files_with_matches || o.log_given || o.html_given ||
            o.before >= 0 || o.after >= 0 ||
            !o.limits.Empty() || o.word)
            return UsageError("--check searches nothing: it takes exports, --json, -q and -j alone");
        for (const std::string& folder : plan.empty_folders) Tell(folder + ": the folder holds no .xml file");
        CheckPlan checks;
        checks.exports = std::move(plan.exports);
        checks.json = o.json;
        checks.show_progress = !o.quiet && isatty(fileno(stderr));
        CatchInterrupts();
        checks.cancel = &InterruptFlag();
        const int status = checks.exports.empty() ? 2 : RunChecks(checks);
        return InterruptStatus() ? InterruptStatus() : status;
    }
    const bool log_to_stdout = (o.log_given && o.log_name == "-") || (from_stdin && !o.log_given);
    if (o.json && log_to_stdout)
        return UsageError(from_stdin && !o.log_given ? "--json with - as the export needs --log FILE"
                                                     : "--json and --log - both want standard output");
    if (o.print && log_to_stdout)
        return UsageError(from_stdin && !o.log_given ? "--print with - as the export needs --log FILE"
                                                     : "--print and --log - both want standard output");
    if (o.print && o.json) return UsageError("--print and --json both want standard output");
    // -l wins over -c, as in grep.
    const bool count = o.count && !o.files_with_matches;
    if (count || o.files_with_matches) {
        const std::string listing = count ? "-c" : "-l";
        if (log_to_stdout)
            return UsageError(from_stdin && !o.log_given ? listing + " with - as the export needs --log FILE"
                                                         : listing + " and --log - both want standard output");
        if (o.json || o.print)
            return UsageError(listing + " and " + (o.json ? "--json" : "--print") + " both want standard output");
    }
    if ((o.before >= 0 || o.after >= 0) && !o.print && !o.json && !o.html_given)
        return UsageError("-A, -B and -C show lines with --print, --json or --html");

    std::vector<std::string> strings;
    bool stdin_taken = from_stdin > 0;
    for (const Options::Source& source : o.sources) {
        if (!source.is_file) {
            AddArgument(source.text, strings);
            continue;
        }
        if (source.text == "-" && stdin_taken) return UsageError("standard input is read only once");
        stdin_taken = stdin_taken || source.text == "-";
        if (!ReadStringFile(source.text, strings)) {
            Tell(source.text + ": cannot read search strings: " + std::strerror(errno));
            return 2;
        }
    }
    // Files of strings that hold none leave nothing to find, as in grep.
    if (o.sources.empty()) return UsageError("no search string given");
    for (std::size_t i = 0; i < strings.size(); ++i) {
        if (strings[i].find('\0') != std::string::npos) {
            Tell("search string " + std::to_string(i + 1) + " holds a zero byte");
            return 2;
        }
        // As the dialog's search field does: a to z only.
        for (char& c : strings[i])
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }

    plan.strings = std::move(strings);
    plan.word = o.word;
    plan.json = o.json;
    plan.limits = std::move(o.limits);
    plan.print = o.print;
    plan.count = count;
    plan.files_with_matches = o.files_with_matches;
    plan.terminal = isatty(fileno(stdout));
    plan.color = o.color == Options::Color::Always ||
                 (o.color == Options::Color::Auto && plan.terminal && !NoColorAsked());
    plan.before = o.before;
    plan.after = o.after;
    // Hits printed on the terminal take the place of the progress line.
    plan.show_progress = !o.quiet && isatty(fileno(stderr)) && !(o.print && isatty(fileno(stdout)));
    plan.many = plan.exports.size() != 1 || folders;
    plan.jobs = o.jobs > 0 ? o.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    plan.log_given = o.log_given;
    plan.log_name = o.log_name;
    plan.html_given = o.html_given;
    plan.html_name = o.html_name;
    CatchInterrupts();
    plan.cancel = &InterruptFlag();
    const int status = RunExports(plan);
    return InterruptStatus() ? InterruptStatus() : status;
}

}  // namespace

#ifdef _WIN32
// Windows hands the arguments over in UTF-16, so that paths in any script
// arrive whole.
int wmain(int argc, wchar_t** argv) {
    std::setlocale(LC_CTYPE, "");  // the ANSI code page, for the strings
    std::vector<std::string> args, bytes;
    for (int i = 0; i < argc; ++i) {
        args.push_back(Utf8Of(std::filesystem::path(argv[i])));
        std::string ansi;
        std::mbstate_t state{};
        char buffer[MB_LEN_MAX];
        for (const wchar_t* w = argv[i]; *w; ++w) {
            std::size_t n = std::wcrtomb(buffer, *w, &state);
            if (n == static_cast<std::size_t>(-1)) {
                ansi.push_back('?');  // not in the code page
                state = {};
            } else {
                ansi.append(buffer, n);
            }
        }
        bytes.push_back(ansi);
    }
    return Main(args, bytes);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    return Main(args, args);
}
#endif
