// UTF-8 paths to the file system and back.
#include "paths.h"

#include <cerrno>
#include <cwchar>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr const char* kLink = "it is a symbolic link";

std::string Reason(int error) { return std::error_code(error, std::generic_category()).message(); }

}  // namespace

std::filesystem::path PathOf(const std::string& utf8) {
#ifdef _WIN32
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
#else
    return std::filesystem::path(utf8);
#endif
}

std::string Utf8Of(const std::filesystem::path& path) {
#ifdef _WIN32
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
#else
    return path.string();
#endif
}

std::FILE* OpenFile(const std::string& utf8, const char* mode) {
#ifdef _WIN32
    std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(PathOf(utf8).c_str(), wide_mode.c_str());
#else
    return std::fopen(utf8.c_str(), mode);
#endif
}

std::FILE* CreateFileNotThroughLink(const std::string& utf8, std::string& error) {
#ifdef _WIN32
    // Looked at right before: Windows has no open that refuses a link.
    const DWORD attributes = GetFileAttributesW(PathOf(utf8).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        error = kLink;
        return nullptr;
    }
    errno = 0;
    std::FILE* f = OpenFile(utf8, "wb");
    if (!f) error = errno ? Reason(errno) : "unknown reason";
    return f;
#else
    // O_NOFOLLOW refuses a link in the same step that opens: nothing can put
    // one there in between.
    const int fd = open(utf8.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno == ELOOP ? kLink : Reason(errno);
        return nullptr;
    }
    std::FILE* f = fdopen(fd, "wb");
    if (!f) {
        error = Reason(errno);
        close(fd);
    }
    return f;
#endif
}
