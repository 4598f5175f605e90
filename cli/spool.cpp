// Temporary files for output that waits its turn.
#include "spool.h"

#include <atomic>
#include <vector>

#ifdef _WIN32
#include <process.h>

#include <filesystem>
#include <string>
#include <system_error>
#endif

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

bool DrainSpool(std::FILE* spool, std::FILE* to) {
    bool ok = std::fflush(spool) == 0 && !std::ferror(spool);
    std::rewind(spool);
    std::vector<char> block(std::size_t{1} << 20);
    for (std::size_t n; ok && (n = std::fread(block.data(), 1, block.size(), spool)) > 0;)
        ok = std::fwrite(block.data(), 1, n, to) == n;
    ok = ok && !std::ferror(spool);
    std::fclose(spool);
    return ok;
}
