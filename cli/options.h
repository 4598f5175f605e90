// The command line's arguments, read as grep reads its own: options with
// their values, then operands that are exports (and strings when neither -e
// nor -f gives any).
#pragma once

#include <string>
#include <vector>

#include "../engine/search_limits.h"

struct Options {
    enum class Action { Search, ShortHelp, Help, Version };
    Action action = Action::Search;
    bool quiet = false;
    bool word = false;
    bool json = false;
    bool log_given = false;
    std::string log_name;  // "-": standard output
    bool html_given = false;
    std::string html_name;
    int jobs = 0;  // exports searched at once; 0: as many as there are cores
    Limits limits;  // --in, --not-in
    bool print = false;  // each hit on standard output, as editors read them
    bool check = false;  // --check: what the reading cannot see, no search
    bool count = false;  // -c: each export with its count of matching lines
    bool files_with_matches = false;  // -l: the name of each export with a hit
    enum class Color { Auto, Always, Never };
    Color color = Color::Auto;
    // Lines of the element around each hit (-A, -B, -C); -1: not given.
    int after = -1;
    int before = -1;
    int context = -1;  // -C, for those of -A and -B not given
    // Where the strings come from, in command-line order: a string given
    // (as the search compares it) or a file of strings.
    struct Source {
        bool is_file = false;
        std::string text;
    };
    std::vector<Source> sources;
    std::vector<std::string> exports;  // operands, UTF-8
};

// Reads the arguments (args[0] is the program): `args` as UTF-8, `bytes` the
// same arguments as the search compares strings. False with `error` set
// for a usage error.
bool ParseOptions(const std::vector<std::string>& args, const std::vector<std::string>& bytes, Options& options,
                  std::string& error);
