// The exports a run searches, from its operands: files as given, "-" for
// standard input, folders searched for the .xml files they hold.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct ExportItem {
    std::string name;       // UTF-8, as the log and the summary name it
    bool from_stdin = false;
    std::string failure;    // set when it cannot be searched at all (a folder that cannot be read)
};

// The exports the operands stand for, in operand order; a folder gives the
// files under it whose names end in ".xml" (in any case), each folder's
// entries in sorted order, folders behind symbolic links not followed.
// `folders` tells whether some operand was a folder.
std::vector<ExportItem> ListExports(const std::vector<std::string>& operands, bool& folders);

// Whether `name` matches `pattern`, where "*" stands for any run of
// characters and "?" for one; letters compared without regard to case, as
// the file systems of Windows compare them.
bool MatchesWildcard(std::string_view pattern, std::string_view name);

// An operand whose file name holds "*" or "?" stands for the names in its
// folder that match (sorted); one that matches nothing stands for itself.
// Windows programs expand these themselves: its shells do not.
std::vector<std::string> ExpandWildcards(const std::string& operand);
