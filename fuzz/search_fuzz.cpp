// Runs a whole search through the engine: the input's first line holds the
// search strings (separated by "|"), the rest is the export.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "search.h"

namespace {

struct QuietDisplay final : Display {
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int pos) override {
        if (pos < 0 || pos > 100) __builtin_trap();
    }
    void SetProgressText(std::string_view) override {}
    void SetTimeLeft(std::string_view) override {}
    void ShowMessageBox(std::string_view, std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/reposearch-fuzz-" + std::to_string(getpid()) + ".xml";
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t lf = input.find('\n');
    std::string strings(input.substr(0, lf == std::string_view::npos ? input.size() : lf));
    std::string_view exported = lf == std::string_view::npos ? std::string_view{} : input.substr(lf + 1);
    for (std::size_t bar; (bar = strings.find('|')) != std::string::npos;) strings.replace(bar, 1, "\r\n");

    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(exported.data(), 1, exported.size(), f);
    std::fclose(f);

    static std::FILE* sink = std::fopen("/dev/null", "wb");
    RunInputs in;
    in.srch_string = strings;
    in.srchfilename = path;
    in.log_stream = sink;
    in.clock = [] { return std::time_t{1796633400}; };
    QuietDisplay display;
    RunResult r = Quelvar(display, in);
    if (r.outcome != RunOutcome::Completed) __builtin_trap();
    return 0;
}
