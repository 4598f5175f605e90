// Temporary files for output that waits its turn.
#include "spool.h"

#include <atomic>
#include <cstring>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <process.h>

#include <filesystem>
#include <string>
#include <system_error>
#endif

#include "output.h"

std::FILE* OpenSpool() {
#ifdef _WIN32
    // The C runtime's tmpfile() writes to the root of the drive, where a user
    // may not: the temporary folder instead, deleted on close ("D").
    static std::atomic<unsigned> counter{0};
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    if (ec) return nullptr;
    const std::wstring name = L"reposearch-" + std::to_wstring(_getpid()) + L"-" + std::to_wstring(counter++) + L".tmp";
    return _wfopen((folder / name).c_str(), L"w+bD");
#else
    return std::tmpfile();
#endif
}

bool DrainSpool(std::FILE* spool, std::FILE* to, const std::atomic<bool>* stop) {
    bool ok = std::fflush(spool) == 0 && !std::ferror(spool);
    std::rewind(spool);
    // Whole lines at a time, the rest of a block carried to the next, so
    // that a write given up never leaves part of a line (but of a line longer
    // than a block).
    std::vector<char> block(std::size_t{1} << 20);
    std::size_t held = 0;
    for (std::size_t n; ok && (n = std::fread(block.data() + held, 1, block.size() - held, spool)) > 0;) {
        held += n;
        const std::string_view bytes(block.data(), held);
        const std::size_t lf = bytes.rfind('\n');
        const std::size_t lines = lf == std::string_view::npos ? held : lf + 1;
        ok = WriteOut(to, bytes.substr(0, lines), stop);
        std::memmove(block.data(), block.data() + lines, held - lines);
        held -= lines;
    }
    if (ok && held) ok = WriteOut(to, std::string_view(block.data(), held), stop);
    ok = ok && !std::ferror(spool);
    std::fclose(spool);
    return ok;
}
