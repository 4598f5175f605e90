// A whole search through the engine: the input's first line holds the
// search strings (separated by "|"; a leading "!" asks for whole words),
// the rest is the export, read in short pieces from memory, on one thread or
// two; a third of the inputs ask for lines around hits. What it finds must
// be what the reference reading finds.
#include <cstdint>
#include <string>

#include "fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lf = input.find('\n');
    std::string line(input.substr(0, lf == std::string_view::npos ? input.size() : lf));
    reference::Search search;
    search.word = !line.empty() && line[0] == '!';
    if (search.word) line.erase(0, 1);
    for (std::size_t start = 0;;) {
        const std::size_t bar = line.find('|', start);
        search.strings.push_back(line.substr(start, bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    if ((size / 13) % 3 == 0) {
        search.before = 1 + static_cast<int>(size % 3);
        search.after = static_cast<int>((size / 3) % 3);
    }
    const std::string_view exported = lf == std::string_view::npos ? std::string_view{} : input.substr(lf + 1);
    // Blocks end anywhere; a longer input in a few dozen reads at most, as
    // each block handed between the threads costs a wake-up.
    fuzz::HoldAgainstReference(exported, search, (size / 61) % 2 == 1, 1 + size % 61 + size / 32);
    return 0;
}
