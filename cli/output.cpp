// Writes to a pipe that look at the stop flag while the reader takes nothing,
// in whole lines where a pipe can take them whole.
#include "output.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#ifndef _WIN32
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// How long, once the run is stopped, a write waits for a reader that takes
// nothing: long enough for one that reads a moment late (the run stopped at
// once, its reader busy for two seconds more), short enough that a reader
// that never reads does not hold the run.
constexpr std::chrono::seconds kGrace{5};

// Set once a write gave up on its reader: nothing more is written to it.
std::atomic<bool> given_up{false};

}  // namespace

bool WriteOut(std::FILE* to, std::string_view bytes, const std::atomic<bool>* stop) {
#ifndef _WIN32
    struct stat st {};
    if (stop && fstat(fileno(to), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
        if (std::fflush(to) != 0) return false;  // what stdio holds goes first
        const int fd = fileno(to);
        std::chrono::steady_clock::time_point stalled{};  // since when a stopped run waits; zero: it does not
        while (!bytes.empty()) {
            if (given_up.load()) {
                errno = ECANCELED;
                return false;
            }
            pollfd p{fd, POLLOUT, 0};
            const int ready = poll(&p, 1, 100);
            if (ready < 0 && errno != EINTR) return false;
            if (ready <= 0) {
                if (stop->load(std::memory_order_relaxed)) {
                    const auto now = std::chrono::steady_clock::now();
                    if (stalled == std::chrono::steady_clock::time_point{}) stalled = now;
                    if (now - stalled >= kGrace) given_up.store(true);
                }
                continue;
            }
            // A pipe that polls writable has room for PIPE_BUF bytes at least,
            // and takes that many whole: whole lines up to that many, so that
            // a reader that stops reading holds no part of one (but of a
            // longer line, which goes in pieces), and the write never waits.
            std::size_t n = std::min<std::size_t>(bytes.size(), PIPE_BUF);
            if (n < bytes.size()) {
                const std::size_t lf = bytes.rfind('\n', n - 1);
                if (lf != std::string_view::npos) n = lf + 1;
            }
            const ssize_t written = write(fd, bytes.data(), n);
            if (written < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(written));
            stalled = {};  // the reader takes what it is given
        }
        return true;
    }
#else
    (void)stop;
#endif
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), to) == bytes.size();
}
