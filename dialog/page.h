// The page of hits the dialog writes after a search (the page --html writes):
// where it goes, and how it takes its place without replacing anyone's file.
#pragma once

#include <string>
#include <vector>

struct HtmlExport;

struct WrittenPage {
    std::wstring path;   // where the page stands, in full; empty when none was written
    std::wstring error;  // why none was, as the system says it
    std::wstring log;    // the log it was named after, in full
};

// Writes the page of one export's search for `strings` (UTF-8) beside the
// log, named after it (EXPORT.log gives EXPORT.html). Where that name is
// taken by any other file (the export, a folder, a link, a page not ours)
// or cannot be written, it goes to the user's temporary folder as
// reposearch-EXPORT.html, or -2, -3 ... when that is taken. A page is
// written under a temporary name and renamed into place once complete.
WrittenPage WritePage(const HtmlExport& part, const std::vector<std::string>& strings, const std::wstring& log,
                      const std::wstring& export_path);

// The system's words for an error code.
std::wstring SystemReason(unsigned long error);

// Whether `path` is a page this program wrote (the dialog or --html): a
// plain file, no link, that begins as every such page begins.
bool IsOwnPage(const std::wstring& path);
