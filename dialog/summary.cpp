// The result summary of a completed search: a task dialog of the common
// controls 6, else a message box whose buttons say the same.
#include "summary.h"

#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "page.h"
#include "resource.h"

namespace {

enum class Choice { ShowPage, OpenLog, Close };

const wchar_t kCaption[] = L"Result Summary";
const wchar_t kShowPage[] = L"&Show hits";
const wchar_t kOpenLog[] = L"Open &log";

bool TestSeam(const wchar_t* name) { return GetEnvironmentVariableW(name, nullptr, 0) > 0; }

// Found at run time: only version 6 of the common controls has it, and an
// import of it would keep the program from starting where that is missing.
using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// False when there is no task dialog to show; REPOSEARCH_TEST_MESSAGE_BOX
// (a test seam) has the message box shown in its place.
bool AskWithTaskDialog(HWND owner, const std::wstring& text, const std::wstring& footer, bool page, Choice& choice) {
    HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
    auto task_dialog = comctl ? reinterpret_cast<TaskDialogIndirectFn>(
                                    reinterpret_cast<void*>(GetProcAddress(comctl, "TaskDialogIndirect")))
                              : nullptr;
    if (!task_dialog || TestSeam(L"REPOSEARCH_TEST_MESSAGE_BOX")) return false;
    // Close has the id of Cancel, which Escape and the close box give.
    const TASKDIALOG_BUTTON buttons[] = {
        {SHOW_PAGE_BUTTON, kShowPage}, {OPEN_LOG_BUTTON, kOpenLog}, {IDCANCEL, L"Close"}};
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = owner;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW | TDF_SIZE_TO_CONTENT;
    config.pszWindowTitle = kCaption;
    config.pszContent = text.c_str();
    config.pszFooter = footer.c_str();
    config.pButtons = page ? buttons : buttons + 1;
    config.cButtons = page ? 3 : 2;
    config.nDefaultButton = page ? SHOW_PAGE_BUTTON : OPEN_LOG_BUTTON;
    int button = 0;
    if (FAILED(task_dialog(&config, &button, nullptr, nullptr))) return false;
    choice = button == SHOW_PAGE_BUTTON  ? Choice::ShowPage
             : button == OPEN_LOG_BUTTON ? Choice::OpenLog
                                         : Choice::Close;
    return true;
}

// The message box's own buttons take our labels as it first shows.
bool relabel_page = false;
bool relabelled = false;

LRESULT CALLBACK RelabelButtons(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && !relabelled) {
        relabelled = true;
        HWND box = reinterpret_cast<HWND>(wParam);
        SetDlgItemTextW(box, relabel_page ? IDYES : IDOK, relabel_page ? kShowPage : kOpenLog);
        if (relabel_page) SetDlgItemTextW(box, IDNO, kOpenLog);
        SetDlgItemTextW(box, IDCANCEL, L"Close");
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

Choice AskWithMessageBox(HWND owner, const std::wstring& text, const std::wstring& footer, bool page) {
    relabel_page = page;
    relabelled = false;
    HHOOK hook = SetWindowsHookExW(WH_CBT, RelabelButtons, nullptr, GetCurrentThreadId());
    const std::wstring all = text + L"\n\n" + footer;
    const int button = MessageBoxW(owner, all.c_str(), kCaption, page ? MB_YESNOCANCEL : MB_OKCANCEL);
    if (hook) UnhookWindowsHookEx(hook);
    if (page) return button == IDYES ? Choice::ShowPage : button == IDNO ? Choice::OpenLog : Choice::Close;
    return button == IDOK ? Choice::OpenLog : Choice::Close;
}

// Test seam: with REPOSEARCH_TEST_OPENED naming a file, a request to open a
// file is added to it as a line of UTF-8 instead of being made, so that the
// tests see it without a browser.
bool RecordedOpen(const std::wstring& path) {
    wchar_t record[MAX_PATH + 1];
    const DWORD n = GetEnvironmentVariableW(L"REPOSEARCH_TEST_OPENED", record, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return false;
    const int size = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), static_cast<int>(path.size()), nullptr, 0, nullptr, nullptr);
    std::string line(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path.c_str(), static_cast<int>(path.size()), line.data(), size, nullptr, nullptr);
    line += "\r\n";
    HANDLE f = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (f != INVALID_HANDLE_VALUE) {
        WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(f);
    }
    return true;
}

// What opens a file may be a COM object: the thread joins an apartment
// first (without one, most files still open). ole32 is loaded here, so that
// the program imports no more DLLs.
void JoinApartment() {
    static bool joined = false;
    if (joined) return;
    joined = true;
    using CoInitializeExFn = HRESULT(WINAPI*)(void*, DWORD);
    HMODULE ole = LoadLibraryW(L"ole32.dll");
    auto init = ole ? reinterpret_cast<CoInitializeExFn>(reinterpret_cast<void*>(GetProcAddress(ole, "CoInitializeEx")))
                    : nullptr;
    if (init) init(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
}

// Opens the file as a double click would (the page in the default browser);
// says why when that fails.
bool Open(HWND owner, const std::wstring& path) {
    if (RecordedOpen(path)) return true;
    JoinApartment();
    SetLastError(0);
    const INT_PTR result =
        reinterpret_cast<INT_PTR>(ShellExecuteW(owner, nullptr, path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result > 32) return true;
    DWORD error = GetLastError();
    if (error == 0) error = result == SE_ERR_NOASSOC ? ERROR_NO_ASSOCIATION : static_cast<DWORD>(result);
    const std::wstring text = L"Unable to open '" + path + L"': " + SystemReason(error);
    MessageBoxW(owner, text.c_str(), L"Unable to Open File", MB_OK | MB_ICONWARNING);
    return false;
}

}  // namespace

void ShowSummary(HWND owner, const std::wstring& text, const WrittenPage& page) {
    std::wstring body = text;
    while (!body.empty() && body.back() == L'\n') body.pop_back();
    const bool has_page = !page.path.empty();
    // The path on a line of its own, so that it is not broken in two.
    const std::wstring footer = has_page ? L"The hits, grouped where they stand, are on the page\n'" + page.path + L"'."
                                         : L"The page of hits could not be written: " + page.error;
    for (;;) {
        Choice choice = Choice::Close;
        if (!AskWithTaskDialog(owner, body, footer, has_page, choice))
            choice = AskWithMessageBox(owner, body, footer, has_page);
        if (choice == Choice::Close) return;
        if (Open(owner, choice == Choice::ShowPage ? page.path : page.log)) return;
    }
}
