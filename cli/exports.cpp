// Operands to exports: folders walked, wildcards expanded.
#include "exports.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "../engine/matcher.h"
#include "../engine/paths.h"
#include "../engine/search_limits.h"

namespace {

namespace fs = std::filesystem;

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EndsInXml(const std::string& name) {
    if (name.size() < 4) return false;
    std::string end = name.substr(name.size() - 4);
    for (char& c : end) c = FoldAscii(c);
    return end == ".XML";
}

// The folder's entries, sorted by name, or a failure.
bool SortedEntries(const fs::path& folder, std::vector<fs::directory_entry>& entries, std::string& failure) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) entries.push_back(*it);
    if (ec) {
        failure = "the folder cannot be read: " + ec.message();
        return false;
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path().filename() < b.path().filename(); });
    return true;
}

void Walk(const fs::path& folder, std::vector<ExportItem>& out) {
    std::vector<fs::directory_entry> entries;
    std::string failure;
    if (!SortedEntries(folder, entries, failure)) {
        out.push_back({Utf8Of(folder), false, failure});
        return;
    }
    for (const fs::directory_entry& entry : entries) {
        std::error_code ec;
        if (entry.is_directory(ec) && !entry.is_symlink(ec)) {
            Walk(entry.path(), out);
        } else if (entry.is_regular_file(ec) && EndsInXml(Utf8Of(entry.path().filename()))) {
            out.push_back({Utf8Of(entry.path()), false, ""});
        }
    }
}

}  // namespace

ExportList ListExports(const std::vector<std::string>& operands, bool wildcards) {
    ExportList list;
    std::vector<ExportItem>& out = list.exports;
    for (const std::string& operand : operands) {
        if (operand == "-") {
            out.push_back({"(standard input)", true, ""});
            continue;
        }
        const std::vector<std::string> names = wildcards ? ExpandWildcards(operand) : std::vector<std::string>{operand};
        if (names.empty()) out.push_back({operand, false, "no file matches"});
        for (const std::string& name : names) {
            std::error_code ec;
            if (fs::is_directory(PathOf(name), ec)) {
                list.folders = true;
                const std::size_t before = out.size();
                Walk(PathOf(name), out);
                if (out.size() == before) list.empty_folders.push_back(name);
            } else {
                out.push_back({name, false, ""});  // a file, or what cannot be opened: the run says so
            }
        }
    }
    return list;
}

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
    std::string folded(pattern.size(), ' ');
    FoldInto(folded.data(), pattern);
    return PatternMatches(folded, name);  // as --in compares names: a to z as upper case
}

std::vector<std::string> ExpandWildcards(const std::string& operand) {
    const fs::path path = PathOf(operand);
    const std::string pattern = Utf8Of(path.filename());
    if (pattern.find_first_of("*?") == std::string::npos) return {operand};
    const fs::path folder = path.parent_path();
    std::vector<fs::directory_entry> entries;
    std::string failure;
    if (!SortedEntries(folder.empty() ? fs::path(".") : folder, entries, failure)) return {};
    std::vector<std::string> matches;
    for (const fs::directory_entry& entry : entries) {
        const fs::path name = entry.path().filename();
        if (MatchesWildcard(pattern, Utf8Of(name))) matches.push_back(Utf8Of(folder.empty() ? name : folder / name));
    }
    return matches;
}
