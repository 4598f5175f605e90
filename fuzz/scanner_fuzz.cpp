// Arbitrary bytes as an export, searched for strings made of the tags
// themselves and for the empty string (every line then read in full), and
// for a rare one (most lines walked, the context rebuilt where it stands),
// with the lines around its hits: in reads of every size, what the engine
// finds must be what the reference finds.
#include <cstdint>

#include "fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view exported(reinterpret_cast<const char*>(data), size);
    const reference::Search tags({"FOO", "<", "OCC>", "UXGROUP:ULABEL", "", "X"});
    const reference::Search rare({"Q"}, false, {}, {}, 1, 1);
    const std::size_t step = 1 + size % 97;
    fuzz::HoldAgainstReference(exported, tags, size % 2 == 0, step);
    fuzz::HoldAgainstReference(exported, rare, size % 2 == 1, step);
    return 0;
}
