// The page of hits written after a search: beside the log, else in the
// temporary folder, under a temporary name until it is complete.
#include "page.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string_view>

#include "../engine/html_writer.h"

namespace {

namespace fs = std::filesystem;

std::wstring ErrnoReason(int error) {
    const char* text = std::strerror(error);
    return std::wstring(text, text + std::strlen(text));  // the C runtime's messages are ASCII
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring out(n, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), n, out.data(), nullptr);
    if (written == 0 || written >= n) return path;
    out.resize(written);
    return out;
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
    std::error_code ec;
    return fs::equivalent(fs::path(a), fs::path(b), ec) && !ec;
}

// What a name holds: nothing, a page of ours to replace, or something else.
enum class Slot { Free, Ours, Taken };

Slot SlotOf(const std::wstring& path, const std::wstring& log, const std::wstring& export_path) {
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        // A missing folder: writing the page there fails, saying why.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Slot::Free : Slot::Taken;
    }
    if (SameFile(path, export_path) || SameFile(path, log)) return Slot::Taken;
    return IsOwnPage(path) ? Slot::Ours : Slot::Taken;
}

// Writes the page at `path` through a new temporary file beside it; false
// with `error` set when it could not be written or put in place.
bool WriteAt(const std::wstring& path, Slot slot, const HtmlExport& part, const std::vector<std::string>& strings,
             std::wstring& error) {
    // A name of our own that nothing held: never written through a link.
    std::wstring temp;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temp = path + L"." + std::to_wstring(GetCurrentProcessId()) +
               (attempt ? L"-" + std::to_wstring(attempt) : L"") + L".tmp";
        handle = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (handle == INVALID_HANDLE_VALUE) {
        error = SystemReason(GetLastError());
        return false;
    }
    std::FILE* file = nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd >= 0) file = _fdopen(fd, "wb");
    if (!file) {
        if (fd >= 0)
            _close(fd);
        else
            CloseHandle(handle);
        DeleteFileW(temp.c_str());
        error = ErrnoReason(ENOMEM);
        return false;
    }
    bool written = false;
    errno = 0;
    try {
        written = WriteHtmlReport(file, strings, false, {&part});
        if (!written) error = ErrnoReason(errno ? errno : EIO);
    } catch (const std::bad_alloc&) {
        error = ErrnoReason(ENOMEM);
    }
    if (std::fclose(file) != 0 && written) {
        error = ErrnoReason(errno ? errno : EIO);
        written = false;
    }
    // Only over a page of ours; a file that came meanwhile stays.
    if (written && !MoveFileExW(temp.c_str(), path.c_str(), slot == Slot::Ours ? MOVEFILE_REPLACE_EXISTING : 0)) {
        error = SystemReason(GetLastError());
        written = false;
    }
    if (!written) DeleteFileW(temp.c_str());
    return written;
}

}  // namespace

std::wstring SystemReason(unsigned long error) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out = text ? text : L"error " + std::to_wstring(error);
    LocalFree(text);
    while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ')) out.pop_back();
    return out;
}

bool IsOwnPage(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    char head[1024];
    DWORD got = 0;
    const bool plain = GetFileInformationByHandle(f, &info) &&
                       !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    const bool read = plain && ReadFile(f, head, sizeof head, &got, nullptr);
    CloseHandle(f);
    if (!read) return false;
    // What WriteHtmlReport puts first; the policy between them changes with
    // the page's script.
    const std::string_view text(head, got);
    return text.starts_with("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n") &&
           text.find("\n<title>reposearch report</title>\n") != std::string_view::npos;
}

WrittenPage WritePage(const HtmlExport& part, const std::vector<std::string>& strings, const std::wstring& log,
                      const std::wstring& export_path) {
    WrittenPage out;
    const std::wstring full_log = FullPath(log);
    out.log = full_log;
    std::wstring beside = full_log;
    const std::size_t slash = beside.find_last_of(L"\\/");
    const std::size_t name_at = slash == std::wstring::npos ? 0 : slash + 1;
    if (beside.size() - name_at > 4 && _wcsicmp(beside.c_str() + beside.size() - 4, L".log") == 0)
        beside.resize(beside.size() - 4);
    const std::wstring stem = beside.substr(name_at);
    beside += L".html";

    const Slot slot = SlotOf(beside, full_log, export_path);
    if (slot != Slot::Taken && WriteAt(beside, slot, part, strings, out.error)) {
        out.path = beside;
        return out;
    }
    wchar_t temp_folder[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp_folder);
    if (n == 0 || n > MAX_PATH) {
        if (out.error.empty()) out.error = SystemReason(GetLastError());
        return out;
    }
    for (int k = 1; k <= 20; ++k) {
        const std::wstring path = FullPath(std::wstring(temp_folder) + L"reposearch-" + stem +
                                           (k > 1 ? L"-" + std::to_wstring(k) : L"") + L".html");
        const Slot s = SlotOf(path, full_log, export_path);
        if (s == Slot::Taken) continue;
        if (WriteAt(path, s, part, strings, out.error)) {
            out.path = path;
            out.error.clear();
        }
        return out;  // a folder that cannot take one page takes no other
    }
    if (out.error.empty()) out.error = L"every name for it is taken";
    return out;
}
