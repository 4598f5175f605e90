// reposearch on the command line: the same search as the dialog, with the
// strings and the export given as arguments, for scripts and other programs.
#include <cerrno>
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

#include "../engine/search.h"

namespace {

constexpr const char* kVersion = "reposearch 1.0.0";

constexpr const char* kUsage =
    "usage: reposearch [-q] [--log FILE] [-f FILE]... EXPORT [STRING]...\n";

constexpr const char* kHelp =
    "Searches a repository export for strings and logs every data line that\n"
    "holds one, with the library, form, table, field and element it stands in.\n"
    "\n"
    "  -f FILE     add every line of FILE as a search string (- reads standard input)\n"
    "  --log FILE  write the log to FILE instead of beside the export (- for standard output)\n"
    "  -q          show no progress\n"
    "  --help      show this help\n"
    "  --version   show the version\n"
    "\n"
    "Strings are matched without regard to the case of the letters a to z.\n"
    "Exit status: 0 some string was found, 1 none was, 2 the search failed.\n";

// Shows the run on the terminal: one progress line on standard error, the
// summary on standard output (or standard error when the log takes it).
struct TerminalDisplay final : Display {
    bool show_progress = false;
    std::FILE* summary_stream = stdout;
    int percent = 0;
    std::string progress_text, time_left;
    std::size_t drawn = 0;  // width of the progress line on screen

    void SetProgressRange(int, int) override {}
    void SetProgressText(std::string_view text) override { progress_text = text; }
    void SetTimeLeft(std::string_view text) override { time_left = text; }
    void SetProgressPos(int pos) override {
        percent = pos;
        if (show_progress) Draw();
    }
    void ShowMessageBox(std::string_view text, std::string_view caption) override {
        Erase();
        if (caption == "Result Summary") {
            std::fwrite(text.data(), 1, text.size(), summary_stream);
            std::fflush(summary_stream);
            return;
        }
        while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
        std::fprintf(stderr, "reposearch: %.*s: %.*s\n", static_cast<int>(caption.size()),
                     caption.data(), static_cast<int>(text.size()), text.data());
    }

    void Draw() {
        constexpr int kWidth = 30;
        int filled = percent * kWidth / 100;
        std::string line = "\r[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "] ";
        std::string pct = std::to_string(percent);
        line += std::string(3 - (pct.size() < 3 ? pct.size() : 3), ' ') + pct + "%  " + progress_text;
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

int UsageError(const char* what) {
    std::fprintf(stderr, "reposearch: %s\n%s", what, kUsage);
    return 2;
}

// Adds every line of a file (LF or CR LF ends) to the strings. False when it
// cannot be read.
bool ReadStringFile(const std::string& name, std::vector<std::string>& strings) {
    std::FILE* f = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
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
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text.find('\n', start);
        std::size_t end = lf == std::string::npos ? text.size() : lf;
        std::size_t stop = end > start && text[end - 1] == '\r' ? end - 1 : end;
        strings.push_back(text.substr(start, stop - start));
        start = end + 1;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool quiet = false;
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
        std::string arg = argv[i];
        if (options_done || arg == "-" || arg.empty() || arg[0] != '-') {
            if (!have_export) {
                export_name = arg;
                have_export = true;
            } else {
                sources.push_back({false, arg});
            }
        } else if (arg == "--") {
            options_done = true;
        } else if (arg == "-q" || arg == "--quiet") {
            quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            std::printf("%s\n%s", kUsage, kHelp);
            return 0;
        } else if (arg == "--version") {
            std::printf("%s\n", kVersion);
            return 0;
        } else if (arg == "-f" || arg == "--log") {
            if (i + 1 >= argc) return UsageError((arg + " needs a file name").c_str());
            if (arg == "-f") {
                sources.push_back({true, argv[++i]});
            } else {
                log_name = argv[++i];
                log_given = true;
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

    std::vector<std::string> strings;
    for (const Source& source : sources) {
        if (!source.is_file) {
            strings.push_back(source.text);
        } else if (!ReadStringFile(source.text, strings)) {
            std::fprintf(stderr, "reposearch: %s: cannot read search strings: %s\n",
                         source.text.c_str(), std::strerror(errno));
            return 2;
        }
    }
    if (strings.empty()) return UsageError("no search string given");

    RunInputs inputs;
    inputs.srchfilename = export_name;
    for (std::size_t i = 0; i < strings.size(); ++i) {
        if (strings[i].find('\0') != std::string::npos) {
            std::fprintf(stderr, "reposearch: search string %zu holds a zero byte\n", i + 1);
            return 2;
        }
        // As the dialog's search field does: a to z only.
        for (char& c : strings[i])
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (i) inputs.srch_string.append("\r\n");
        inputs.srch_string.append(strings[i]);
    }

    TerminalDisplay display;
    if (log_given && log_name == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        inputs.log_stream = stdout;
        display.summary_stream = stderr;
    } else if (log_given) {
        std::error_code ec;
        if (std::filesystem::equivalent(log_name, export_name, ec)) {
            std::fprintf(stderr, "reposearch: %s: the log would replace the export\n",
                         log_name.c_str());
            return 2;
        }
        inputs.logfilename = log_name;
    }
    display.show_progress = !quiet && isatty(fileno(stderr));

    RunResult result = Quelvar(display, inputs);
    if (result.outcome != RunOutcome::Completed || !result.log_complete) return 2;
    return result.found ? 0 : 1;
}
