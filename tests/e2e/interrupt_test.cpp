// Runs stopped by signals, end to end: the program is started on exports that
// come through a pipe held open (so that it waits where the test wants it) or
// on a large export of the real shape, and sent SIGINT or SIGTERM. What each
// leaves: logs that end saying where they stopped, the records, the summary,
// the page as it was, no temporary file, the exit status.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <regex>
#include <thread>

#include "test_util.h"

namespace {

using testutil::ReadFile;
using testutil::WriteFile;
namespace fs = std::filesystem;

// The program started with default signal handling, its outputs in files.
struct Started {
    pid_t pid = -1;
    std::string out, err;  // paths
};

// Standard input and output default to /dev/null and a file; a test may
// give pipes instead.
Started Start(const std::vector<std::string>& args, const testutil::TempDir& dir, int stdin_fd = -1,
              int stdout_fd = -1) {
    Started s;
    s.out = dir / "stdout";
    s.err = dir / "stderr";
    std::vector<char*> argv;
    std::string program = REPOSEARCH_BIN;
    argv.push_back(program.data());
    std::vector<std::string> copies(args);
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    s.pid = fork();
    if (s.pid == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        const int in = stdin_fd >= 0 ? stdin_fd : open("/dev/null", O_RDONLY);
        const int out = stdout_fd >= 0 ? stdout_fd : open(s.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(s.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return s;
}

// Its exit status, or 1000 + the signal when one ended it, or -1 when it
// did not end within the time.
int Wait(pid_t pid, int seconds = 60) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        int raw = 0;
        const pid_t done = waitpid(pid, &raw, WNOHANG);
        if (done == pid) return WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw);
        if (std::chrono::steady_clock::now() > until) {
            kill(pid, SIGKILL);
            waitpid(pid, &raw, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Waits until the file holds at least `bytes` bytes.
bool Grows(const std::string& path, std::uintmax_t bytes, int seconds = 60) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        std::error_code ec;
        if (fs::file_size(path, ec) >= bytes && !ec) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// An export of `occurrences` occurrences, each with ten data lines holding
// CUSTNO.
std::string Occurrences(int occurrences) {
    std::string one = "<TABLE XMLNS:UFORM>\r\n<OCC>\r\n<UFORM:UCODE>\r\n";
    for (int i = 0; i < 10; ++i) one += "   call custno_check(custno)\r\n";
    one += "</UFORM:UCODE>\r\n</OCC>\r\n</TABLE>\r\n";
    std::string out;
    for (int i = 0; i < occurrences; ++i) out += one;
    return out;
}

// Writes an export into a named pipe in two parts: the second once released
// (or never, when the test ends first). The reader going away ends it.
struct Feeder {
    std::string path;
    std::mutex mutex;
    std::condition_variable cv;
    bool released = false, closing = false, first_taken = false;
    int fd = -1;  // the writing end, while it is open
    std::thread thread;

    Feeder(const std::string& fifo, std::string first, std::string second) : path(fifo) {
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        thread = std::thread([this, first = std::move(first), second = std::move(second)] {
            const int out = OpenWhenRead();
            if (out < 0) return;
            bool ok = Put(out, first);
            std::unique_lock<std::mutex> lock(mutex);
            fd = out;
            first_taken = true;
            cv.notify_all();
            cv.wait(lock, [&] { return released || closing; });
            if (ok && released) Put(out, second);
            close(out);
            fd = -1;
        });
    }
    ~Feeder() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            closing = true;
        }
        cv.notify_all();
        thread.join();
    }
    // The pipe's writing end once a reader has it open; -1 when the test
    // ends first.
    int OpenWhenRead() {
        for (;;) {
            const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
                return fd;
            }
            std::unique_lock<std::mutex> lock(mutex);
            if (cv.wait_for(lock, std::chrono::milliseconds(5), [&] { return closing; })) return -1;
        }
    }
    // Until the reader has taken the first part (but what the pipe holds).
    bool FirstTaken() {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(60), [&] { return first_taken; });
    }
    // Until the reader has read all of the first part and waits for more.
    bool FirstRead() {
        if (!FirstTaken()) return false;
        for (int tries = 0; tries < 6000; ++tries) {
            int held = 0;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (fd < 0 || ioctl(fd, FIONREAD, &held) != 0) return false;
            }
            if (held == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));  // what it read, searched
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            released = true;
        }
        cv.notify_all();
    }
    static bool Put(int fd, const std::string& bytes) {
        for (std::size_t at = 0; at < bytes.size();) {
            const ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
            if (n <= 0) return false;  // the reader is gone (EPIPE: SIGPIPE is ignored)
            at += static_cast<std::size_t>(n);
        }
        return true;
    }
};

std::string Masked(const std::string& text) {
    static const std::regex stamp("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}");
    return std::regex_replace(text, stamp, "TIME");
}

// The files the folder holds, by name.
std::vector<std::string> Names(const testutil::TempDir& dir) {
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(dir.path)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The number of lines the log's last line says the search stopped after, or
// -1 when it does not end with that line.
long long StoppedAfter(const std::string& log, const std::string& export_name) {
    static const std::regex last("\r\n\r\nSearch of file '([^']*)' interrupted after (\\d+) lines at TIME\r\n$");
    std::smatch m;
    const std::string masked = Masked(log);
    if (!std::regex_search(masked, m, last) || m[1] != export_name) return -1;
    return std::stoll(m[2]);
}

class Interrupt : public ::testing::Test {
protected:
    static void SetUpTestSuite() { signal(SIGPIPE, SIG_IGN); }
    testutil::TempDir dir;
};

// Killed outright, the run leaves the page of the run before as it was: the
// page is written under another name and takes its own once complete.
TEST_F(Interrupt, APageIsReplacedOnlyWhenComplete) {
    WriteFile(dir / "page.html", "the page before");
    {
        Feeder feeder(dir / "pipe.xml", Occurrences(100), Occurrences(100));
        Started s = Start({"-q", "--html", dir / "page.html", "--log", dir / "pipe.log", dir / "pipe.xml", "custno"}, dir);
        ASSERT_TRUE(feeder.FirstTaken());
        kill(s.pid, SIGKILL);
        EXPECT_EQ(Wait(s.pid), 1000 + SIGKILL);
    }
    EXPECT_EQ(ReadFile(dir / "page.html"), "the page before");
    for (const std::string& name : Names(dir))
        if (name != "page.html" && name.rfind("page.html.", 0) == 0) fs::remove(dir / name);  // what a kill leaves

    WriteFile(dir / "export.xml", Occurrences(3));
    Started s = Start({"-q", "--html", dir / "page.html", dir / "export.xml", "custno"}, dir);
    EXPECT_EQ(Wait(s.pid), 0);
    EXPECT_EQ(ReadFile(dir / "page.html").rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"export.log", "export.xml", "page.html", "pipe.log", "pipe.xml",
                                                    "stderr", "stdout"}));
}

// The export stops coming; the signal comes; then the rest of it: the run
// stops within a few megabytes of where it was, each output saying so.
TEST_F(Interrupt, ASignalStopsTheRunAndEachOutputSaysWhere) {
    const std::string first = Occurrences(2000), rest = Occurrences(60000);  // 0.7 and 20 MB
    const std::size_t all_lines = (2000 + 60000) * 16;
    for (int signal_number : {SIGINT, SIGTERM}) {
        WriteFile(dir / "page.html", "the page before");
        fs::remove(dir / "pipe.xml");
        Feeder feeder(dir / "pipe.xml", first, rest);
        Started s = Start({"-q", "--json", "--html", dir / "page.html", dir / "pipe.xml", "custno"}, dir);
        ASSERT_TRUE(feeder.FirstTaken());
        kill(s.pid, signal_number);
        feeder.Release();
        EXPECT_EQ(Wait(s.pid), 128 + signal_number);

        const std::string log = ReadFile(dir / "pipe.log");
        const long long lines = StoppedAfter(log, dir / "pipe.xml");
        ASSERT_GT(lines, 0) << log.substr(log.size() > 300 ? log.size() - 300 : 0);
        EXPECT_LT(static_cast<std::size_t>(lines), all_lines);
        EXPECT_EQ(log.find("Result Summary"), std::string::npos);
        // Every hit before the stop is in the log, and none after it.
        std::size_t hits = 0;
        for (std::size_t at = log.find(":: '"); at != std::string::npos; at = log.find(":: '", at + 1)) ++hits;
        EXPECT_EQ(hits, static_cast<std::size_t>(lines) / 16 * 10 + std::min<std::size_t>(lines % 16 > 3 ? lines % 16 - 3 : 0, 10));

        const std::string out = ReadFile(s.out);
        EXPECT_NE(out.find("{\"type\":\"end\",\"data\":{\"outcome\":\"interrupted\",\"lines\":" + std::to_string(lines) +
                           ",\"counts\":[{\"string\":{\"text\":\"CUSTNO\"},\"count\":" + std::to_string(hits) + "}]}}\n"),
                  std::string::npos)
            << out.substr(out.size() > 300 ? out.size() - 300 : 0);
        EXPECT_EQ(Masked(ReadFile(s.err)), "reposearch: Search Interrupted: Search of file '" + (dir / "pipe.xml") +
                                               "' interrupted after " + std::to_string(lines) +
                                               " lines at TIME\nreposearch: The hits found before are in output file '" +
                                               (dir / "pipe.log") + "'\n");
        EXPECT_EQ(ReadFile(dir / "page.html"), "the page before");
        EXPECT_EQ(Names(dir), (std::vector<std::string>{"page.html", "pipe.log", "pipe.xml", "stderr", "stdout"}));
    }
}

// A run waiting for an export that stops coming (a writer that holds the
// pipe open and sends nothing) stops at the signal all the same: as the
// standard input, or a named pipe; the log ends after the lines read whole.
// So does a run, or a check, on a named pipe that no writer opens.
TEST_F(Interrupt, ASignalStopsARunWaitingForItsExport) {
    ASSERT_EQ(mkfifo((dir / "nobody.xml").c_str(), 0600), 0);
    for (bool check : {false, true}) {
        Started s = Start(check ? std::vector<std::string>{"--check", dir / "nobody.xml"}
                                : std::vector<std::string>{"-q", dir / "nobody.xml", "custno"},
                          dir);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        kill(s.pid, SIGTERM);
        EXPECT_EQ(Wait(s.pid, 10), 128 + SIGTERM) << (check ? "--check" : "search");
    }
    EXPECT_EQ(StoppedAfter(ReadFile(dir / "nobody.log"), dir / "nobody.xml"), 0);

    const std::string first = Occurrences(10) + "<TABLE XMLNS:UFORM>\r\n<OC";  // a line cut short
    for (int signal_number : {SIGTERM, SIGINT}) {
        for (bool named : {false, true}) {
            fs::remove(dir / "pipe.xml");
            fs::remove(dir / "pipe.log");
            std::optional<Feeder> feeder;
            int fds[2] = {-1, -1};
            Started s;
            if (named) {
                feeder.emplace(dir / "pipe.xml", first, "");
                s = Start({"-q", dir / "pipe.xml", "custno"}, dir);
                ASSERT_TRUE(feeder->FirstRead());
            } else {
                ASSERT_EQ(pipe(fds), 0);
                s = Start({"-q", "--log", dir / "pipe.log", "-", "custno"}, dir, fds[0]);
                close(fds[0]);
                ASSERT_TRUE(Feeder::Put(fds[1], first));
                for (int held = 1, tries = 0; held > 0 && tries < 6000; ++tries) {  // until it was read
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    ioctl(fds[1], FIONREAD, &held);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(300));  // what it read, searched
            }
            const auto sent = std::chrono::steady_clock::now();
            kill(s.pid, signal_number);
            EXPECT_EQ(Wait(s.pid, 10), 128 + signal_number) << (named ? "named pipe" : "standard input");
            EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(3));
            const std::string log = ReadFile(dir / "pipe.log");
            EXPECT_EQ(StoppedAfter(log, named ? dir / "pipe.xml" : "(standard input)"), 10 * 16 + 1)
                << log.substr(log.size() > 300 ? log.size() - 300 : 0);
            if (fds[1] >= 0) close(fds[1]);
        }
    }
}

// The first signal asks the run to stop, which waits a while for a reader
// of its hits that takes nothing; a second ends it at once, its page file
// removed.
TEST_F(Interrupt, ASecondCtrlCEndsAtOnce) {
    WriteFile(dir / "page.html", "the page before");
    WriteFile(dir / "export.xml", Occurrences(2000));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    Started s = Start({"-q", "--json", "--html", dir / "page.html", dir / "export.xml", "custno"}, dir, -1, fds[1]);
    close(fds[1]);
    for (int held = 0, tries = 0; held < 60000 && tries < 6000; ++tries) {  // the pipe is full: the run waits
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ioctl(fds[0], FIONREAD, &held);
    }
    kill(s.pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(waitpid(s.pid, nullptr, WNOHANG), 0) << "ended without waiting for its reader";
    kill(s.pid, SIGINT);
    EXPECT_EQ(Wait(s.pid, 2), 130);
    close(fds[0]);
    EXPECT_EQ(ReadFile(dir / "page.html"), "the page before");
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"export.log", "export.xml", "page.html", "stderr"}));
}

// A large export of the real shape, made once for the tests below.
class InterruptLarge : public ::testing::Test {
protected:
    static inline fs::path folder;
    static inline std::string big;
    static void SetUpTestSuite() {
        signal(SIGPIPE, SIG_IGN);
        folder = fs::temp_directory_path() / ("reposearch-interrupt-" + std::to_string(getpid()));
        fs::create_directories(folder);
        big = (folder / "big.xml").string();
        const std::string command = std::string(MAKE_EXPORT_BIN) + " 23 200 " + testutil::ShellQuote(big) + " real";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    testutil::TempDir dir;
};

TEST_F(InterruptLarge, OneExport) {
    ASSERT_TRUE(fs::exists(big));
    const std::string log = dir / "big.log";
    for (int signal_number : {SIGINT, SIGTERM}) {
        WriteFile(dir / "page.html", "the page before");
        fs::remove(log);  // it shows when the run has started
        Started s = Start({"--json", "--html", dir / "page.html", "--log", log, big, "e", "a"}, dir);
        ASSERT_TRUE(Grows(log, 1 << 20));
        kill(s.pid, signal_number);
        EXPECT_EQ(Wait(s.pid), 128 + signal_number);
        const long long lines = StoppedAfter(ReadFile(log), big);
        EXPECT_GT(lines, 0);
        const std::string out = ReadFile(s.out);
        EXPECT_NE(out.find("{\"type\":\"end\",\"data\":{\"outcome\":\"interrupted\",\"lines\":" + std::to_string(lines) + ","),
                  std::string::npos);
        EXPECT_NE(ReadFile(s.err).find("reposearch: Search Interrupted: Search of file '" + big + "' interrupted after " +
                                       std::to_string(lines) + " lines at "),
                  std::string::npos);
        EXPECT_EQ(ReadFile(dir / "page.html"), "the page before");
        EXPECT_EQ(Names(dir), (std::vector<std::string>{"big.log", "page.html", "stderr", "stdout"}));
    }
}

// Several exports, two at a time: the logs being written end saying where,
// those finished are whole, those not started are not made; the summary of
// each goes to standard error, the records say which were interrupted, and
// -c gives whole lines for those finished, a small one first among them.
TEST_F(InterruptLarge, SeveralExportsTwoAtATime) {
    ASSERT_TRUE(fs::exists(big));
    std::vector<std::string> exports;
    for (const char* name : {"e1.xml", "e2.xml", "e3.xml", "e4.xml", "e5.xml"}) {
        exports.push_back(dir / name);
        fs::create_hard_link(big, exports.back());
    }
    WriteFile(dir / "small.xml", "<TABLE XMLNS:UFORM>\r\n<OCC>\r\n<UFORM:UCODE>\r\nea\r\ne\r\n</UFORM:UCODE>\r\n</OCC>\r\n</TABLE>\r\n");
    for (const std::string mode : {"", "--json", "-c"}) {
        const bool json = mode == "--json", count = mode == "-c";
        WriteFile(dir / "page.html", "the page before");
        for (int k = 1; k <= 5; ++k) fs::remove(dir / ("e" + std::to_string(k) + ".log"));
        std::vector<std::string> args = {"-j", "2", "--html", dir / "page.html", "-e", "e", "-e", "a"};
        if (!mode.empty()) args.insert(args.begin(), mode);
        if (count) args.push_back(dir / "small.xml");
        args.insert(args.end(), exports.begin(), exports.end());
        std::string finished = count ? dir / "small.xml" + ":" : "";  // their names, each with a ":"
        Started s = Start(args, dir);
        ASSERT_TRUE(Grows(dir / "e2.log", 1 << 20));
        kill(s.pid, SIGINT);
        EXPECT_EQ(Wait(s.pid), 130);

        const std::string out = ReadFile(s.out), err = ReadFile(s.err);
        std::size_t interrupted = 0, not_started = 0;
        for (const std::string& e : exports) {
            const std::string log_name = e.substr(0, e.size() - 4) + ".log";
            if (!fs::exists(log_name)) {
                ++not_started;
                if (!json) {
                    EXPECT_NE(err.find("'" + e + "', not searched: the run was interrupted\n"), std::string::npos);
                }
                continue;
            }
            const std::string log = ReadFile(log_name);
            const long long lines = StoppedAfter(log, e);
            if (lines < 0) {  // finished before the signal: whole
                EXPECT_NE(log.find("\r\nResult Summary:\r\n"), std::string::npos) << e;
                finished += e + ":";
                continue;
            }
            ++interrupted;
            if (json)
                EXPECT_NE(out.find("{\"type\":\"end\",\"data\":{\"outcome\":\"interrupted\",\"lines\":" + std::to_string(lines)),
                          std::string::npos);
            else
                EXPECT_NE(err.find("'" + e + "', log '" + log_name + "', interrupted after " + std::to_string(lines) + " lines:\n"),
                          std::string::npos)
                    << err;
        }
        EXPECT_GE(interrupted, 1u);
        EXPECT_GE(not_started, 2u);  // two at a time, stopped early in the second
        if (json) {
            std::size_t begins = 0, ends = 0;
            for (std::size_t at = out.find("{\"type\":\"begin\""); at != std::string::npos; at = out.find("{\"type\":\"begin\"", at + 1)) ++begins;
            for (std::size_t at = out.find("{\"type\":\"end\""); at != std::string::npos; at = out.find("{\"type\":\"end\"", at + 1)) ++ends;
            EXPECT_EQ(begins, 5u);
            EXPECT_EQ(ends, 5u);
            EXPECT_NE(out.find("{\"type\":\"summary\",\"data\":{\"exports\":5,"), std::string::npos);
        } else {
            EXPECT_EQ(count ? std::regex_replace(out, std::regex(":\\d+\t\\d+\t\\d+\n"), ":") : out, finished);
            if (count) {
                EXPECT_EQ(out.rfind(dir / "small.xml:2\t2\t1\n", 0), 0u) << out;
            }
            EXPECT_NE(err.find(" interrupted):\n'E' found "), std::string::npos) << err;
        }
        EXPECT_EQ(ReadFile(dir / "page.html"), "the page before");
        for (const std::string& name : Names(dir)) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    }
}

}  // namespace
