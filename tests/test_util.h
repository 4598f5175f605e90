// Helpers shared by the engine tests: temporary folders, files, a display
// that records what the run shows, and a clock that tests set.
#pragma once

#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "search_run.h"

namespace testutil {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed afterwards;
// named after the process too, so that the same test run at the same time
// by another build (another worktree, the sanitizers) keeps to its own.
struct TempDir {
    fs::path path;
    TempDir() {
        static std::atomic<int> counter{0};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("reposearch-") + (info ? info->name() : "test") + "-" +
                           std::to_string(getpid()) + "-" + std::to_string(counter++);
        path = fs::temp_directory_path() / name;
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Joins lines with CR LF, ending the last one too.
inline std::string CrLf(std::initializer_list<std::string> lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\r\n";
    return out;
}

struct Box {
    std::string text, caption;
};

// Records every display call, in order.
struct RecordingDisplay final : Display {
    std::vector<std::string> calls;  // "range 0 100", "pos 5", "text ...", "time ..."
    std::vector<Box> boxes;
    void SetProgressRange(int low, int high) override {
        calls.push_back("range " + std::to_string(low) + " " + std::to_string(high));
    }
    void SetProgressPos(int percent) override { calls.push_back("pos " + std::to_string(percent)); }
    void SetProgressText(std::string_view text) override { calls.push_back("text " + std::string(text)); }
    void SetTimeLeft(std::string_view text) override { calls.push_back("time " + std::string(text)); }
    void ShowMessageBox(std::string_view text, std::string_view caption) override {
        boxes.push_back({std::string(text), std::string(caption)});
    }
};

// A clock that stands still at a fixed time unless a test moves it.
inline constexpr std::time_t kStart = 1796633400;  // an arbitrary moment in 2026
struct FixedClock {
    std::time_t now = kStart;
    std::time_t step = 0;  // added after every reading
    std::function<std::time_t()> fn() {
        return [this] {
            std::time_t t = now;
            now += step;
            return t;
        };
    }
};

// What a command printed and how it ended.
struct Outcome {
    int status = -1;
    std::string out, err;
};

inline std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

#ifndef _WIN32
// Runs a program with arguments through the shell, standard input from
// `input`, the outputs caught in files of `dir`.
inline Outcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                          const TempDir& dir, const std::string& input = "") {
    std::string in = dir / "stdin", out = dir / "stdout", err = dir / "stderr";
    WriteFile(in, input);
    std::string cmd = ShellQuote(program);
    for (const std::string& a : args) cmd += " " + ShellQuote(a);
    cmd += " <" + ShellQuote(in) + " >" + ShellQuote(out) + " 2>" + ShellQuote(err);
    int raw = std::system(cmd.c_str());
    Outcome o;
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = ReadFile(out);
    o.err = ReadFile(err);
    return o;
}
#endif

}  // namespace testutil
