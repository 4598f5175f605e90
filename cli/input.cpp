// The export opened and read from a pipe in turns that look at the stop flag.
#include "input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "../engine/paths.h"

#ifndef _WIN32
namespace {

struct Reader {
    const std::atomic<bool>* stop = nullptr;
    bool checked = false, polled = false;  // the file's kind looked at; read in turns
    std::string held;  // read after the last line handed over
    bool at_end = false;
};

// One past the last line feed of p[from, to), or 0 when it holds none.
std::size_t AfterLastLf(const char* p, std::size_t from, std::size_t to) {
    while (to > from)
        if (p[--to] == '\n') return to + 1;
    return 0;
}

std::int64_t Read(Reader& r, std::FILE* file, char* dst, std::size_t n) {
    if (!r.checked) {
        struct stat st {};
        r.checked = true;
        r.polled = fstat(fileno(file), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode);
    }
    if (!r.polled) {
        const std::size_t got = std::fread(dst, 1, n, file);
        return got == 0 && std::ferror(file) ? -1 : static_cast<std::int64_t>(got);
    }
    const int fd = fileno(file);
    std::size_t have = std::min(r.held.size(), n), scanned = 0;
    std::memcpy(dst, r.held.data(), have);
    r.held.erase(0, have);
    for (;;) {
        // Whole lines: what follows the last line feed waits for the next read.
        if (const std::size_t lines = AfterLastLf(dst, scanned, have)) {
            r.held.insert(0, dst + lines, have - lines);
            return static_cast<std::int64_t>(lines);
        }
        scanned = have;
        if (have == n || (r.at_end && have)) return static_cast<std::int64_t>(have);
        if (r.at_end) return 0;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR) return -1;
        if (ready <= 0) {
            if (r.stop && r.stop->load(std::memory_order_relaxed)) {
                errno = ECANCELED;
                return -1;
            }
            continue;
        }
        const ssize_t got = read(fd, dst + have, n - have);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return -1;
        }
        if (got == 0)
            r.at_end = true;
        else
            have += static_cast<std::size_t>(got);
    }
}

}  // namespace

ReadBlock StoppableReader(const std::atomic<bool>* stop) {
    auto reader = std::make_shared<Reader>();
    reader->stop = stop;
    return [reader](std::FILE* file, char* dst, std::size_t n) { return Read(*reader, file, dst, n); };
}

ReadAt PositionedReader() {
    return [](std::FILE* file, char* dst, std::size_t n, std::uint64_t offset) -> std::int64_t {
        for (;;) {
            const ssize_t got = pread(fileno(file), dst, n, static_cast<off_t>(offset));
            if (got >= 0 || errno != EINTR) return got;
        }
    };
}

std::FILE* OpenExportFile(const std::string& name) {
    struct stat st {};
    if (stat(name.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) return OpenFile(name, "rb");
    // Opened without waiting, then blocking again: until a writer comes,
    // the reader's poll finds nothing to read and looks at the stop flag.
    const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    const int flags = fcntl(fd, F_GETFL);
    std::FILE* f = flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? fdopen(fd, "rb") : nullptr;
    if (!f) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return f;
}
#else
ReadBlock StoppableReader(const std::atomic<bool>*) { return {}; }
ReadAt PositionedReader() { return {}; }
std::FILE* OpenExportFile(const std::string& name) { return OpenFile(name, "rb"); }
#endif
