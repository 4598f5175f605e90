// The exports a run searches, from its operands: files as given, "-" for
// standard input, folders searched for the .xml files they hold.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct ExportItem {
    std::string name;       // UTF-8, as the log and the summary name it
    bool from_stdin = false;
    // Set when it cannot be searched at all (a folder that cannot be read,
    // a wildcard that matches nothing): it is not opened and gets no log.
    std::string failure;
};

struct ExportList {
    std::vector<ExportItem> exports;
    bool folders = false;  // some operand was a folder
    std::vector<std::string> empty_folders;  // folder operands that hold no export
};

// The exports the operands stand for, in operand order; a folder gives the
// files under it whose names end in ".xml" (in any case), each folder's
// entries in sorted order, folders behind symbolic links not followed. With
// `wildcards` (Windows, whose shells leave them to the program), an operand
// whose file name holds "*" or "?" stands for the names that match it, and
// one that matches nothing for a failure.
ExportList ListExports(const std::vector<std::string>& operands, bool wildcards);

// Whether `name` matches `pattern`, where "*" stands for any run of
// characters and "?" for one; letters compared without regard to case, as
// the file systems of Windows compare them.
bool MatchesWildcard(std::string_view pattern, std::string_view name);

// An operand whose file name holds "*" or "?" stands for the names in its
// folder that match (sorted, none when none does); any other for itself.
std::vector<std::string> ExpandWildcards(const std::string& operand);
