// The command line's arguments.
#include "options.h"

#include <cstddef>

namespace {

// The long options that take a value (each also spelled --name=VALUE), by
// the key TakeValue knows them by: their short option's letter where they
// have one.
struct ValueOption {
    const char* name;
    char key;
};
constexpr ValueOption kValueOptions[] = {{"--file", 'f'},          {"--log", 'L'},           {"--html", 'H'},
                                         {"--jobs", 'j'},          {"--in", 'i'},            {"--not-in", 'x'},
                                         {"--color", 'k'},         {"--colour", 'k'},        {"--after-context", 'A'},
                                         {"--before-context", 'B'}, {"--context", 'C'}};

// The most lines around a hit -A, -B and -C take.
constexpr int kMaxContextLines = 1000;

// A count from 0 to `most`, or -1.
int Count(const std::string& value, int most) {
    long n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
        if (n > most) return -1;
    }
    return value.empty() ? -1 : static_cast<int>(n);
}

// What a value option needs, for a message.
const char* Needs(char key) {
    switch (key) {
    case 'e': return "a string";
    case 'j': return "a number";
    case 'A':
    case 'B':
    case 'C': return "a number of lines";
    case 'i':
    case 'x': return "FIELD=PATTERN";
    case 'k': return "auto, always or never";
    default: return "a file name";
    }
}

bool TakeValue(char key, const std::string& name, const std::string& value, const std::string& value_bytes,
               Options& o, std::string& error) {
    switch (key) {
    case 'e':
        o.sources.push_back({false, value_bytes});
        return true;
    case 'f':
        o.sources.push_back({true, value});
        return true;
    case 'j': {
        const int jobs = Count(value, 10000);
        if (jobs < 1) {
            error = name + " needs a number of exports from 1 to 10000, not '" + value + "'";
            return false;
        }
        o.jobs = jobs;
        return true;
    }
    case 'A':
    case 'B':
    case 'C': {
        const int lines = Count(value, kMaxContextLines);
        if (lines < 0) {
            error = name + " needs a number of lines from 0 to " + std::to_string(kMaxContextLines) + ", not '" +
                    value + "'";
            return false;
        }
        (key == 'A' ? o.after : key == 'B' ? o.before : o.context) = lines;
        return true;
    }
    case 'i':
    case 'x':
        if (!AddLimit(o.limits, value_bytes, key == 'i', error)) {
            error = name + ": " + error;
            return false;
        }
        return true;
    case 'k':
        if (value == "auto") {
            o.color = Options::Color::Auto;
        } else if (value == "always") {
            o.color = Options::Color::Always;
        } else if (value == "never") {
            o.color = Options::Color::Never;
        } else {
            error = name + " needs auto, always or never, not '" + value + "'";
            return false;
        }
        return true;
    case 'L':
        if (value.empty()) {
            error = name + " needs a file name";
            return false;
        }
        o.log_given = true;
        o.log_name = value;
        return true;
    case 'H':
        if (value.empty() || value == "-") {
            error = name + " needs a file name (the page is not written to standard output)";
            return false;
        }
        o.html_given = true;
        o.html_name = value;
        return true;
    }
    return false;
}

char KeyOf(const std::string& name) {
    for (const ValueOption& v : kValueOptions)
        if (name == v.name) return v.key;
    return 0;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, const std::vector<std::string>& bytes, Options& o,
                  std::string& error) {
    o = Options{};
    std::vector<std::size_t> operands;  // their places in args
    bool options_done = false;
    const std::size_t argc = args.size();
    for (std::size_t i = 1; i < argc; ++i) {
        const std::string& arg = args[i];
        if (options_done || arg == "-" || arg.empty() || arg[0] != '-') {
            operands.push_back(i);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        if (arg[1] == '-') {  // a long option
            const std::size_t eq = arg.find('=');
            const std::string name = arg.substr(0, eq);
            if (name == "--color" || name == "--colour") {
                if (eq == std::string::npos) {  // as grep takes it: where the output is a terminal
                    o.color = Options::Color::Auto;
                    continue;
                }
            }
            if (const char key = KeyOf(name)) {
                std::string value, value_bytes;
                if (eq != std::string::npos) {
                    value = arg.substr(eq + 1);
                    value_bytes = bytes[i].substr(bytes[i].find('=') + 1);
                } else if (i + 1 < argc) {
                    ++i;
                    value = args[i];
                    value_bytes = bytes[i];
                } else {
                    error = name + " needs " + Needs(key);
                    return false;
                }
                if (!TakeValue(key, name, value, value_bytes, o, error)) return false;
            } else if (eq != std::string::npos) {
                error = "unknown option " + name;
                return false;
            } else if (arg == "--quiet") {
                o.quiet = true;
            } else if (arg == "--word") {
                o.word = true;
            } else if (arg == "--json") {
                o.json = true;
            } else if (arg == "--check") {
                o.check = true;
            } else if (arg == "--print") {
                o.print = true;
            } else if (arg == "--count") {
                o.count = true;
            } else if (arg == "--files-with-matches") {
                o.files_with_matches = true;
            } else if (arg == "--help") {
                o.action = Options::Action::Help;
                return true;
            } else if (arg == "--version") {
                o.action = Options::Action::Version;
                return true;
            } else {
                error = "unknown option " + arg;
                return false;
            }
            continue;
        }
        // Short options, grouped as in -qw; one that takes a value takes the
        // rest of the group (-jN, -eTEXT) or the next argument.
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const char c = arg[k];
            if (c == 'q') {
                o.quiet = true;
            } else if (c == 'w') {
                o.word = true;
            } else if (c == 'c') {
                o.count = true;
            } else if (c == 'l') {
                o.files_with_matches = true;
            } else if (c == 'h') {
                o.action = Options::Action::ShortHelp;
                return true;
            } else if (c == 'e' || c == 'f' || c == 'j' || c == 'A' || c == 'B' || c == 'C') {
                std::string value, value_bytes;
                if (k + 1 < arg.size()) {
                    value = arg.substr(k + 1);
                    value_bytes = bytes[i].substr(k + 1);  // the letters before are the same in both
                } else if (i + 1 < argc) {
                    ++i;
                    value = args[i];
                    value_bytes = bytes[i];
                } else {
                    error = std::string("-") + c + " needs " + Needs(c);
                    return false;
                }
                if (!TakeValue(c, std::string("-") + c, value, value_bytes, o, error)) return false;
                break;
            } else {
                error = "unknown option -" + std::string(1, c) + (arg.size() > 2 ? " in " + arg : "");
                return false;
            }
        }
    }
    // -A and -B given win over -C, in whatever order, as in grep.
    if (o.after < 0) o.after = o.context;
    if (o.before < 0) o.before = o.context;
    // With -e or -f every operand is an export; else the first one is, and
    // the rest are strings.
    const bool strings_given = !o.sources.empty() || o.check;  // --check searches for nothing
    for (std::size_t n = 0; n < operands.size(); ++n) {
        if (strings_given || n == 0)
            o.exports.push_back(args[operands[n]]);
        else
            o.sources.push_back({false, bytes[operands[n]]});
    }
    if (o.exports.empty()) {
        error = "no export given";
        return false;
    }
    return true;
}
