// The Windows program: one modal dialog in which the user types the search
// strings and the export's path, starts the search and watches its progress.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "../engine/html_writer.h"
#include "../engine/paths.h"
#include "../engine/search_run.h"
#include "page.h"
#include "resource.h"
#include "summary.h"

namespace {

// Paths travel as UTF-8 and reach the file system through the wide calls.
std::string Utf8(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<std::size_t>(n) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

// Text for the screen. A box's text names paths in UTF-8 beside search
// strings in the ANSI code page: UTF-8 where all of it reads as such, else
// the code page.
std::wstring Wide(std::string_view text) {
    UINT page = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0) > 0 || text.empty()
                    ? CP_UTF8
                    : CP_ACP;
    int n = MultiByteToWideChar(page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(page, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

// The dialog's fields as last typed, and whether each holds text.
struct DialogState {
    std::string srch_string;   // at most 2,047 characters, in the ANSI code page
    std::string srchfilename;  // at most 259 characters, as UTF-8
    int HaveSearchParm = 0;
    int HavePathParm = 0;
} dialog_state;

// The search run shows itself on the dialog. The dialog takes no input while
// a search runs, but repaints at each update and lets Windows see its queue
// looked at, so it is never taken for hung. The result summary waits until
// the run is over: a completed search shows it with the page of hits.
struct DialogDisplay final : Display {
    HWND dialog;
    std::optional<std::string> summary;
    explicit DialogDisplay(HWND h) : dialog(h) {}

    void KeepAlive() {
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
    void SetProgressRange(int low, int high) override {
        SendDlgItemMessageA(dialog, PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(low, high));
    }
    void SetProgressPos(int percent) override {
        SendDlgItemMessageA(dialog, PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
        KeepAlive();  // the last operation of every update
    }
    void SetProgressText(std::string_view text) override {
        SetDlgItemTextA(dialog, PROGRESS_TEXT, std::string(text).c_str());
    }
    void SetTimeLeft(std::string_view text) override {
        SetDlgItemTextA(dialog, TIME_LEFT, std::string(text).c_str());
    }
    void ShowMessageBox(std::string_view text, std::string_view caption) override {
        if (caption == "Result Summary")
            summary = std::string(text);
        else
            MessageBoxW(dialog, Wide(text).c_str(), Wide(caption).c_str(), MB_OK);
    }
};

// Searches, keeping the hits for the page, and shows the summary: with the
// page and the log to open when the search completed, else as it came.
void Search(HWND hDlg, const RunInputs& given) {
    DialogDisplay display(hDlg);
    HtmlExport page;
    RunInputs inputs = given;
    inputs.sink = &page;
    inputs.lines_before = page.before;
    inputs.lines_after = page.after;
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(PathOf(inputs.srchfilename), ec);
    if (!ec) page.size = size;
    const RunResult result = Quelvar(display, inputs);  // which begins and finishes the page
    if (!display.summary) return;
    if (result.outcome != RunOutcome::Completed || !result.log_complete) {
        MessageBoxW(hDlg, Wide(*display.summary).c_str(), L"Result Summary", MB_OK);
        return;
    }
    display.SetProgressText("Writing the page of hits...");
    display.KeepAlive();
    WrittenPage written;
    try {
        // The strings as typed, in the code page they were typed in.
        std::vector<std::string> strings;
        for (const StringCount& c : result.counts) strings.push_back(Utf8(Wide(c.text).c_str()));
        written = WritePage(page, strings, Wide(result.logfilename), Wide(inputs.srchfilename));
    } catch (const std::bad_alloc&) {
        written = WrittenPage{L"", L"not enough memory", Wide(result.logfilename)};
    }
    ShowSummary(hDlg, Wide(*display.summary), written);
}

void EnableWindows(HWND hDlg, int pSetting) {
    EnableWindow(GetDlgItem(hDlg, IDOK), pSetting ? TRUE : FALSE);
    for (int id : {PROGRESS_TEXT, PROGRESS_BAR, TIME_LEFT})
        ShowWindow(GetDlgItem(hDlg, id), pSetting ? SW_SHOW : SW_HIDE);
}

void EnableRule(HWND hDlg) {
    EnableWindows(hDlg, dialog_state.HaveSearchParm == 1 && dialog_state.HavePathParm == 1);
}

// Puts a path into the path field, whose EN_CHANGE takes it in as typing
// would. A path longer than the field holds is refused, never cut.
void SetPath(HWND hDlg, const wchar_t* path) {
    if (lstrlenW(path) > 259) {
        MessageBeep(MB_ICONWARNING);
        return;
    }
    SetDlgItemTextW(hDlg, SRCHFILENAME, path);
}

// `path`, when set, is the export the program was started with: "Open with",
// "Send to" or a file dropped onto the program's icon.
void InitializeApp(HWND hDlg, const wchar_t* path) {
    InitCommonControls();
    EnableWindows(hDlg, 0);
    SetFocus(GetDlgItem(hDlg, SRCH_STRINGS));
    SendDlgItemMessageA(hDlg, SRCH_STRINGS, EM_SETLIMITTEXT, 2000, 0);
    SendDlgItemMessageA(hDlg, SRCHFILENAME, EM_SETLIMITTEXT, 260, 0);
    DragAcceptFiles(hDlg, TRUE);
    if (path) SetPath(hDlg, path);
}

// A file dropped onto the dialog: the first of them becomes the path.
void DroppedFiles(HWND hDlg, HDROP drop) {
    wchar_t path[MAX_PATH + 1] = L"";
    const UINT n = DragQueryFileW(drop, 0, path, MAX_PATH + 1);
    DragFinish(drop);
    if (n > 0 && n <= MAX_PATH) SetPath(hDlg, path);
}

int EntryFieldMessages(HWND hDlg, WPARAM wParam, int lFieldID) {
    if (HIWORD(wParam) != EN_CHANGE) return 1;
    if (lFieldID == SRCH_STRINGS) {
        char text[2048];
        GetDlgItemTextA(hDlg, SRCH_STRINGS, text, sizeof text);
        dialog_state.srch_string = text;
        dialog_state.HaveSearchParm = text[0] != '\0';
    } else {
        wchar_t text[261];
        GetDlgItemTextW(hDlg, SRCHFILENAME, text, 260);
        dialog_state.srchfilename = Utf8(text);
        dialog_state.HavePathParm = text[0] != L'\0';
    }
    return 1;
}

// Runs the open-file dialog, preset to "*.xml". Returns whether a file was
// picked; when the user cancels, the buffer is left as it was.
bool GetFileName(wchar_t* buffer, DWORD buflen) {
    std::wstring file = L"*.xml";
    file.resize(buflen, L'\0');
    wchar_t filter[] = L"XML files,*.*,";
    for (wchar_t& c : filter)
        if (c == L',') c = L'\0';  // the list ends in two terminators
    OPENFILENAMEW ofn{};
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    ofn.hwndOwner = GetActiveWindow();
    ofn.hInstance = GetModuleHandleW(nullptr);
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = buflen;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 0;
    ofn.lpstrTitle = L"Open";
    ofn.lpstrDefExt = L"xml";
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_EXPLORER |
                OFN_NODEREFERENCELINKS | OFN_EXTENSIONDIFFERENT;
    if (!GetOpenFileNameW(&ofn)) return false;
    lstrcpynW(buffer, file.c_str(), static_cast<int>(buflen));
    return true;
}

INT_PTR CALLBACK DialogFunc(HWND hwndDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        InitializeApp(hwndDlg, reinterpret_cast<const wchar_t*>(lParam));
        EnableRule(hwndDlg);
        return FALSE;  // the focus InitializeApp set stays
    case WM_DROPFILES:
        DroppedFiles(hwndDlg, reinterpret_cast<HDROP>(wParam));
        EnableRule(hwndDlg);
        return TRUE;
    case WM_CLOSE:
        EndDialog(hwndDlg, 0);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            // Return in the path field presses OK even while it is disabled.
            if (!IsWindowEnabled(GetDlgItem(hwndDlg, IDOK))) return TRUE;
            RunInputs inputs;
            inputs.srch_string = dialog_state.srch_string;
            inputs.srchfilename = dialog_state.srchfilename;
            Search(hwndDlg, inputs);
            EndDialog(hwndDlg, 1);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(hwndDlg, 0);
            return TRUE;
        case SRCH_STRINGS:
            EntryFieldMessages(hwndDlg, wParam, SRCH_STRINGS);
            break;
        case BROWSE_BUTTON: {
            wchar_t path[260] = L"";
            // Setting the field raises EN_CHANGE, which takes the path in.
            if (GetFileName(path, 259)) SetDlgItemTextW(hwndDlg, SRCHFILENAME, path);
            break;
        }
        case SRCHFILENAME:
            EntryFieldMessages(hwndDlg, wParam, SRCHFILENAME);
            break;
        default:
            break;
        }
        EnableRule(hwndDlg);
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace

// The dialog is a Unicode window, so its path field holds any characters;
// the search field's text is still read in the ANSI code page. The first
// argument, when there is one, is an export handed over by Windows.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const wchar_t* path = argv && argc > 1 && argv[1][0] ? argv[1] : nullptr;
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(SEARCH_DIALOG), nullptr, DialogFunc,
                                           reinterpret_cast<LPARAM>(path));
    LocalFree(argv);
    return static_cast<int>(result);
}
