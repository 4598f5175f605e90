// The page written under a temporary name, then renamed over its own.
#include "page_file.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#define getpid _getpid
#define fdopen _fdopen
#define close _close
#else
#include <unistd.h>
#endif

#include "../engine/paths.h"
#include "interrupt.h"

namespace {

namespace fs = std::filesystem;

std::string Reason(int error) { return std::error_code(error, std::generic_category()).message(); }

// A file of this name made anew, never one that was there: null, with errno
// set, when it cannot be.
std::FILE* CreateNew(const std::string& path) {
#ifdef _WIN32
    const int fd = _wopen(PathOf(path).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
#endif
    if (fd < 0) return nullptr;
    std::FILE* f = fdopen(fd, "wb");
    if (!f) close(fd);
    return f;
}

// The file a name leads to through its links: a page named by a link is
// written where the link leads, the user's choice, and the link stays.
std::string Target(const std::string& name) {
    fs::path path = PathOf(name);
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++hops) {
        const fs::path to = fs::read_symlink(path, ec);
        if (ec) break;
        path = to.is_absolute() ? to : path.parent_path() / to;
    }
    return Utf8Of(path);
}

}  // namespace

bool OpenPageFile(PageFile& page, const std::string& name, std::string& error) {
    page = PageFile{};
    page.name = Target(name);
    std::error_code ec;
    const fs::file_status status = fs::status(PathOf(name), ec);
    if (fs::is_directory(status)) {
        error = Reason(EISDIR);
        return false;
    }
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        page.file = OpenFile(name, "wb");
        if (!page.file) error = Reason(errno);
        return page.file != nullptr;
    }
    for (int attempt = 0; attempt < 100 && !page.file; ++attempt) {
        page.temp = page.name + "." + std::to_string(getpid());
        if (attempt) page.temp.append("-").append(std::to_string(attempt));
        page.temp.append(".tmp");
        errno = 0;
        page.file = CreateNew(page.temp);
        if (!page.file && errno != EEXIST) break;
    }
    if (!page.file) {
        error = Reason(errno ? errno : EEXIST);
        page.temp.clear();
        return false;
    }
    SetPendingFile(page.temp);
    return true;
}

bool ClosePageFile(PageFile& page, bool publish, std::string& error) {
    bool ok = true;
    if (page.file && std::fclose(page.file) != 0) {
        error = Reason(errno);
        ok = false;
    }
    page.file = nullptr;
    if (page.temp.empty()) return ok;
    if (ok && publish) {
#ifdef _WIN32
        // Over an earlier page too, which rename alone would refuse.
        if (!MoveFileExW(PathOf(page.temp).c_str(), PathOf(page.name).c_str(), MOVEFILE_REPLACE_EXISTING)) {
            error = std::system_category().message(static_cast<int>(GetLastError()));
            ok = false;
        }
#else
        if (std::rename(page.temp.c_str(), page.name.c_str()) != 0) {
            error = Reason(errno);
            ok = false;
        }
#endif
    }
    if (!ok || !publish) {
        std::error_code ec;
        fs::remove(PathOf(page.temp), ec);
    }
    SetPendingFile("");
    page.temp.clear();
    return ok;
}
