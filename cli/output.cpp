// Writes to a pipe that look at the stop flag while the reader takes nothing.
#include "output.h"

#include <algorithm>
#include <cerrno>

#ifndef _WIN32
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

bool WriteOut(std::FILE* to, std::string_view bytes, const std::atomic<bool>* stop) {
#ifndef _WIN32
    struct stat st {};
    if (stop && fstat(fileno(to), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
        if (std::fflush(to) != 0) return false;  // what stdio holds goes first
        const int fd = fileno(to);
        while (!bytes.empty()) {
            pollfd p{fd, POLLOUT, 0};
            const int ready = poll(&p, 1, 100);
            if (ready < 0 && errno != EINTR) return false;
            if (ready <= 0) {
                if (stop->load(std::memory_order_relaxed)) {
                    errno = ECANCELED;
                    return false;
                }
                continue;
            }
            // A pipe that polls writable has room for PIPE_BUF bytes at least:
            // no more is written at once, so that the write never waits.
            const ssize_t n = write(fd, bytes.data(), std::min<std::size_t>(bytes.size(), PIPE_BUF));
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }
#else
    (void)stop;
#endif
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), to) == bytes.size();
}
