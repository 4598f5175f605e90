// reposearch on the command line: the same search as the dialog, with the
// strings and the export given as arguments, for scripts and other programs.
#include <cerrno>
#include <climits>
#include <clocale>
#include <cwchar>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "../engine/json_writer.h"
#include "../engine/paths.h"
#include "../engine/search.h"
#include "version.h"

namespace {

constexpr const char* kVersion = "reposearch " REPOSEARCH_VERSION;

constexpr const char* kUsage =
    "usage: reposearch [-qw] [--json] [--log FILE] [-f FILE]... EXPORT [STRING]...\n";

// -h: the options at a glance.
constexpr const char* kShortHelp =
    "  -f FILE     add every line of FILE as a search string (- reads standard input)\n"
    "  -w          match whole words only\n"
    "  -q          show no progress\n"
    "  --json      write the hits as JSON Lines on standard output\n"
    "  --log FILE  write the log to FILE (- for standard output)\n"
    "EXPORT - reads standard input. 'reposearch --help' tells more.\n";

// --help: the whole story.
constexpr const char* kHelp =
    "Searches a repository export for strings and logs every data line that\n"
    "holds one, with the library, form, table, field and element it stands in.\n"
    "\n"
    "Strings:\n"
    "  Each STRING is searched for, without regard to the case of the letters a\n"
    "  to z. A string holding line breaks is several strings; an empty string\n"
    "  matches every data line.\n"
    "  -f, --file FILE  add every line of FILE as a string (- reads standard input)\n"
    "  -w, --word       a string counts only where no letter, digit or _ stands\n"
    "                   right before or after it\n"
    "\n"
    "Input and output:\n"
    "  EXPORT           the export to search; - reads standard input (the log then\n"
    "                   goes to standard output unless --log names a file)\n"
    "  --log FILE       write the log to FILE instead of beside the export (named\n"
    "                   after it, up to the first dot); - for standard output\n"
    "  --json           write JSON Lines on standard output in place of the\n"
    "                   summary: a begin record, one match record per matching\n"
    "                   data line, an end record with the outcome and the counts\n"
    "  -q, --quiet      draw no progress on standard error\n"
    "  -h               show the short help\n"
    "  --help           show this help\n"
    "  --version        show the version\n"
    "\n"
    "The summary goes to standard output, or to standard error when the log goes\n"
    "to standard output. When the search fails, every message goes to standard\n"
    "error as 'reposearch: ...'.\n"
    "\n"
    "Examples:\n"
    "  reposearch repo.xml custno invoice_total\n"
    "  reposearch -w --json repo.xml custno > hits.jsonl\n"
    "  zcat repo.xml.gz | reposearch - custno > repo.log\n"
    "\n"
    "Exit status: 0 some string was found, 1 none was, 2 the search failed.\n";

// Shows the run on the terminal: one progress line on standard error. The
// run's boxes are kept and printed once it is over, where its outcome says.
struct TerminalDisplay final : Display {
    bool show_progress = false;
    bool has_range = false;  // a size is known: a bar and a percentage
    int percent = 0;
    std::string progress_text, time_left;
    std::size_t drawn = 0;  // width of the progress line on screen
    struct Box {
        std::string text, caption;
    };
    std::vector<Box> boxes;

    void SetProgressRange(int, int) override { has_range = true; }
    void SetProgressText(std::string_view text) override {
        progress_text = text;
        if (show_progress && !has_range) Draw();  // lines processed, nothing more
    }
    void SetTimeLeft(std::string_view text) override { time_left = text; }
    void SetProgressPos(int pos) override {
        percent = pos;
        if (show_progress) Draw();
    }
    void ShowMessageBox(std::string_view text, std::string_view caption) override {
        boxes.push_back({std::string(text), std::string(caption)});
    }

    void Draw() {
        std::string line = "\r";
        if (has_range) {
            constexpr int kWidth = 30;
            int filled = percent * kWidth / 100;
            line += "[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "] ";
            std::string pct = std::to_string(percent);
            line += std::string(3 - (pct.size() < 3 ? pct.size() : 3), ' ') + pct + "%  ";
        }
        line += progress_text;
        if (!time_left.empty()) line += "  " + time_left;
        std::size_t width = line.size() - 1;
        if (width < drawn) line += std::string(drawn - width, ' ');
        drawn = width;
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    }
    void Erase() {
        if (!drawn) return;
        std::fprintf(stderr, "\r%s\r", std::string(drawn, ' ').c_str());
        std::fflush(stderr);
        drawn = 0;
    }
};

// Prints what the run showed: a completed run's summary goes to `summary`
// (or nowhere), anything else to standard error, every line behind the
// program's name.
void ShowBoxes(TerminalDisplay& display, bool completed, std::FILE* summary) {
    display.Erase();
    for (const TerminalDisplay::Box& box : display.boxes) {
        if (completed) {
            if (summary) {
                std::fwrite(box.text.data(), 1, box.text.size(), summary);
                std::fflush(summary);
            }
            continue;
        }
        std::string_view text = box.text;
        bool first = true;
        while (!text.empty()) {
            std::size_t lf = text.find('\n');
            std::string_view line = text.substr(0, lf);
            text = lf == std::string_view::npos ? std::string_view{} : text.substr(lf + 1);
            if (line.empty()) continue;
            if (first)
                std::fprintf(stderr, "reposearch: %s: %.*s\n", box.caption.c_str(), static_cast<int>(line.size()),
                             line.data());
            else
                std::fprintf(stderr, "reposearch: %.*s\n", static_cast<int>(line.size()), line.data());
            first = false;
        }
    }
}

int UsageError(const char* what) {
    std::fprintf(stderr, "reposearch: %s\n%s", what, kUsage);
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

// Adds every line of a file (LF or CR LF ends) to the strings. False when it
// cannot be read.
bool ReadStringFile(const std::string& name, std::vector<std::string>& strings) {
    std::FILE* f = name == "-" ? stdin : OpenFile(name, "rb");
    if (!f) return false;
#ifdef _WIN32
    if (f == stdin) _setmode(_fileno(stdin), _O_BINARY);
#endif
    std::string text;
    char block[65536];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) text.append(block, n);
    bool ok = !std::ferror(f);
    if (f != stdin) std::fclose(f);
    if (!ok) return false;
    AddLines(text, strings);
    return true;
}

// The program, over its arguments: `args` as UTF-8 (paths and options),
// `bytes` the same arguments as the search compares them (on Windows, in the
// ANSI code page, as the dialog's search field holds them).
int Main(const std::vector<std::string>& args, const std::vector<std::string>& bytes) {
    const int argc = static_cast<int>(args.size());
    bool quiet = false, word = false, json = false;
    std::string log_name;
    bool log_given = false;
    std::string export_name;
    bool have_export = false;
    // Search strings and -f files, in command-line order.
    struct Source {
        bool is_file;
        std::string text;
    };
    std::vector<Source> sources;
    bool options_done = false;

    for (int i = 1; i < argc; ++i) {
        const std::string& arg = args[i];
        if (options_done || arg == "-" || arg.empty() || arg[0] != '-') {
            if (!have_export) {
                export_name = arg;
                have_export = true;
            } else {
                sources.push_back({false, bytes[i]});
            }
        } else if (arg == "--") {
            options_done = true;
        } else if (arg == "-q" || arg == "--quiet") {
            quiet = true;
        } else if (arg == "-w" || arg == "--word") {
            word = true;
        } else if (arg.size() > 2 && arg[1] != '-' && arg.find_first_not_of("qw", 1) == std::string::npos) {
            quiet = quiet || arg.find('q') != std::string::npos;  // -qw and the like
            word = word || arg.find('w') != std::string::npos;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "-h") {
            std::printf("%s%s", kUsage, kShortHelp);
            return 0;
        } else if (arg == "--help") {
            std::printf("%s\n%s", kUsage, kHelp);
            return 0;
        } else if (arg == "--version") {
            std::printf("%s\n", kVersion);
            return 0;
        } else if (arg == "-f" || arg == "--file" || arg == "--log") {
            if (i + 1 >= argc) return UsageError((arg + " needs a file name").c_str());
            if (arg == "--log") {
                log_name = args[++i];
                log_given = true;
            } else {
                sources.push_back({true, args[++i]});
            }
        } else if (arg.rfind("--log=", 0) == 0) {
            log_name = arg.substr(6);
            log_given = true;
        } else {
            return UsageError(("unknown option " + arg).c_str());
        }
    }
    if (!have_export) return UsageError("no export given");
    if (log_given && log_name.empty()) return UsageError("--log needs a file name");
    const bool from_stdin = export_name == "-";
    const bool log_to_stdout = (log_given && log_name == "-") || (from_stdin && !log_given);
    if (json && log_to_stdout)
        return UsageError(from_stdin ? "--json with - as the export needs --log FILE"
                                     : "--json and --log - both want standard output");

    std::vector<std::string> strings;
    bool stdin_taken = from_stdin;
    for (const Source& source : sources) {
        if (!source.is_file) {
            AddArgument(source.text, strings);
            continue;
        }
        if (source.text == "-" && stdin_taken)
            return UsageError("standard input is read only once");
        stdin_taken = stdin_taken || source.text == "-";
        if (!ReadStringFile(source.text, strings)) {
            std::fprintf(stderr, "reposearch: %s: cannot read search strings: %s\n",
                         source.text.c_str(), std::strerror(errno));
            return 2;
        }
    }
    if (strings.empty()) return UsageError("no search string given");

    RunInputs inputs;
    inputs.srchfilename = from_stdin ? "(standard input)" : export_name;
    inputs.word = word;
    for (std::size_t i = 0; i < strings.size(); ++i) {
        if (strings[i].find('\0') != std::string::npos) {
            std::fprintf(stderr, "reposearch: search string %zu holds a zero byte\n", i + 1);
            return 2;
        }
        // As the dialog's search field does: a to z only.
        for (char& c : strings[i])
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    inputs.strings = strings;

    if (from_stdin) {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        inputs.export_stream = stdin;
    }
    if (log_to_stdout) {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        inputs.log_stream = stdout;
    } else if (log_given) {
        std::error_code ec;
        if (!from_stdin && std::filesystem::equivalent(PathOf(log_name), PathOf(export_name), ec)) {
            std::fprintf(stderr, "reposearch: %s: the log would replace the export\n",
                         log_name.c_str());
            return 2;
        }
        inputs.logfilename = log_name;
    }

    JsonWriter json_writer(stdout);
    if (json) {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        inputs.sink = &json_writer;
        JsonBegin(json_writer, inputs.srchfilename, strings);
    }

    TerminalDisplay display;
    display.show_progress = !quiet && isatty(fileno(stderr));
    RunResult result = Quelvar(display, inputs);
    const bool completed = result.outcome == RunOutcome::Completed && result.log_complete;
    bool json_ok = !json || JsonEnd(json_writer, result);
    ShowBoxes(display, completed, json ? nullptr : log_to_stdout ? stderr : stdout);
    if (!json_ok) std::fprintf(stderr, "reposearch: writing the JSON records failed\n");
    if (!completed || !json_ok) return 2;
    return result.found ? 0 : 1;
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
