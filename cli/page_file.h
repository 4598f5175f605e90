// The page of hits is written to a temporary file beside it and takes its
// name once complete, so that a run that fails or is stopped leaves an
// earlier page of that name as it was.
#pragma once

#include <cstdio>
#include <string>

struct PageFile {
    std::string name;  // the page's own name, where links lead
    std::string temp;  // where it is written meanwhile; empty: written in place
    std::FILE* file = nullptr;
};

// Opens the page for writing: a new temporary file beside `name` (beside
// the file it leads to, when it is a link), or `name` itself when that is no
// regular file (a device or a pipe such as
// /dev/stdout, which nothing could replace). False, with `error` set as the
// system says it, when it cannot be made.
bool OpenPageFile(PageFile& page, const std::string& name, std::string& error);

// Closes the page. With `publish`, the page takes its name; else (or when
// that fails) the temporary file is removed. False, with `error` set, when
// closing or renaming failed.
bool ClosePageFile(PageFile& page, bool publish, std::string& error);
