// Paths are UTF-8 text throughout the program. On Windows they reach the file
// system through the wide-character calls, so a folder named in any script
// can be searched and logged to, whatever the ANSI code page holds.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

// The file system's path for a UTF-8 path (on POSIX, the bytes as they are).
std::filesystem::path PathOf(const std::string& utf8);

// std::fopen for a UTF-8 path.
std::FILE* OpenFile(const std::string& utf8, const char* mode);

// Creates or empties a file to write ("wb"), never through a symbolic link
// (on Windows, a reparse point) found at its name. Null when it cannot, with
// `error` set as the system says why, or to "it is a symbolic link".
std::FILE* CreateFileNotThroughLink(const std::string& utf8, std::string& error);

// A file system path as UTF-8.
std::string Utf8Of(const std::filesystem::path& path);
