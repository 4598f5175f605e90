// Drives the real dialog program as a user would: typing into its fields,
// Return, Browse, OK, Cancel and the close box, answering its message boxes
// and its summary. Runs under wine, in a virtual display on Linux (Windows
// draws a task dialog's text without windows to read it from).
#define _WIN32_WINNT 0x0A00  // the per-window DPI calls
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <shellapi.h>
#include <shlobj.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../../dialog/resource.h"

namespace {

std::string program_dir;  // where reposearch.exe is

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Waits for a top-level dialog with this caption owned by the process.
HWND WaitForWindow(const char* caption, DWORD pid, int seconds = 30) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        for (HWND w = FindWindowA("#32770", caption); w; w = FindWindowExA(nullptr, w, "#32770", caption)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == pid && IsWindowVisible(w)) return w;
        }
        Sleep(50);
    }
    return nullptr;
}

std::string Text(HWND w) {
    char buffer[8192];
    SendMessageA(w, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

std::wstring Wide(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), n);
    out.resize(out.size() - 1);
    return out;
}

// The texts a box shows, a line each: a message box's, or those of wine's
// task dialog.
std::wstring BoxText(HWND box) {
    std::wstring all;
    for (HWND w = GetWindow(box, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        wchar_t name[32], text[8192];
        GetClassNameW(w, name, 32);
        SendMessageW(w, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(text));
        if (lstrcmpiW(name, L"Static") == 0) all += std::wstring(text) + L"\n";
    }
    return all;
}

// A key pressed in a box of the program, where its focus is.
void Key(DWORD thread, WPARAM key) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetGUIThreadInfo(thread, &info) && info.hwndFocus);
    PostMessageW(info.hwndFocus, WM_KEYDOWN, key, 0);
    PostMessageW(info.hwndFocus, WM_KEYUP, key, 0xC0000001);
}

// The dialog program, started fresh for each test.
class DialogTest : public ::testing::Test {
protected:
    PROCESS_INFORMATION process{};
    HWND dialog = nullptr;
    std::string dir;

    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        dir = std::string(temp) + "reposearch-dialog-" + std::to_string(GetCurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        CreateDirectoryA(dir.c_str(), nullptr);
        // The program writes what it is asked to open here instead of opening it.
        DeleteFileA((dir + "\\opened.txt").c_str());
        SetEnvironmentVariableA("REPOSEARCH_TEST_OPENED", (dir + "\\opened.txt").c_str());
        SetEnvironmentVariableA("REPOSEARCH_TEST_MESSAGE_BOX", nullptr);
        Start(L"");
    }
    // Starts the program with these arguments (as Explorer would hand over
    // a file), after ending the one started before.
    void Start(const std::wstring& arguments) {
        Stop();
        std::wstring exe, folder;
        for (char c : program_dir + "\\reposearch.exe") exe += static_cast<wchar_t>(c);
        for (char c : dir) folder += static_cast<wchar_t>(c);
        std::wstring command = L"\"" + exe + L"\" " + arguments;
        STARTUPINFOW si{};
        si.cb = sizeof si;
        ASSERT_TRUE(CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                                   &si, &process));
        dialog = WaitForWindow("Search for specified string(s)", process.dwProcessId);
        ASSERT_NE(dialog, nullptr);
    }
    void Stop() {
        if (!process.hProcess) return;
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        process = {};
    }
    void TearDown() override { Stop(); }

    HWND Item(int id) { return GetDlgItem(dialog, id); }
    // Types as the keyboard would: each character through the edit control.
    void Type(int id, const std::string& text) {
        for (char c : text) SendMessageA(Item(id), WM_CHAR, static_cast<unsigned char>(c), 0);
    }
    // Empties a field as a user would: select all, then Backspace.
    void Clear(int id) {
        SendMessageA(Item(id), EM_SETSEL, 0, -1);
        SendMessageA(Item(id), WM_CHAR, VK_BACK, 0);
    }
    bool OkEnabled() { return IsWindowEnabled(Item(IDOK)); }
    bool ProgressShown() {
        return IsWindowVisible(Item(PROGRESS_TEXT)) && IsWindowVisible(Item(PROGRESS_BAR)) &&
               IsWindowVisible(Item(TIME_LEFT));
    }
    bool ProgressHidden() {
        return !IsWindowVisible(Item(PROGRESS_TEXT)) && !IsWindowVisible(Item(PROGRESS_BAR)) &&
               !IsWindowVisible(Item(TIME_LEFT));
    }
    std::string Opened() { return ReadFile(dir + "\\opened.txt"); }
    // Types the strings and the path, presses OK: the summary, when it comes.
    HWND Search(const std::string& strings, const std::string& path) {
        Type(SRCH_STRINGS, strings);
        Type(SRCHFILENAME, path);
        PostMessageA(Item(IDOK), BM_CLICK, 0, 0);
        return WaitForWindow("Result Summary", process.dwProcessId);
    }
    DWORD ExitCode(int seconds = 30) {
        if (WaitForSingleObject(process.hProcess, seconds * 1000) != WAIT_OBJECT_0) return 12345;
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        return code;
    }
};

TEST_F(DialogTest, OkNeedsBothFieldsAndTheProgressShowsWithIt) {
    EXPECT_FALSE(OkEnabled());
    EXPECT_TRUE(ProgressHidden());
    Type(SRCH_STRINGS, "abc");
    EXPECT_EQ(Text(Item(SRCH_STRINGS)), "ABC");  // shown in upper case
    EXPECT_FALSE(OkEnabled());
    Type(SRCHFILENAME, "x.xml");
    EXPECT_TRUE(OkEnabled());
    EXPECT_TRUE(ProgressShown());
    Clear(SRCH_STRINGS);
    EXPECT_FALSE(OkEnabled());
    EXPECT_TRUE(ProgressHidden());
    Type(SRCH_STRINGS, "d");
    EXPECT_TRUE(OkEnabled());
    Clear(SRCHFILENAME);
    EXPECT_FALSE(OkEnabled());
    EXPECT_TRUE(ProgressHidden());
    EXPECT_EQ(SendMessageA(Item(SRCH_STRINGS), EM_GETLIMITTEXT, 0, 0), 2000);
    EXPECT_EQ(SendMessageA(Item(SRCHFILENAME), EM_GETLIMITTEXT, 0, 0), 260);
    PostMessageA(Item(IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_EQ(ExitCode(), 0u);
}

TEST_F(DialogTest, ReturnInTheSearchFieldAddsALine) {
    Type(SRCHFILENAME, "x.xml");
    Type(SRCH_STRINGS, "one");
    SetForegroundWindow(dialog);
    SetFocus(Item(SRCH_STRINGS));
    PostMessageA(Item(SRCH_STRINGS), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageA(Item(SRCH_STRINGS), WM_KEYUP, VK_RETURN, 0xC01C0001);
    Sleep(500);
    Type(SRCH_STRINGS, "two");
    EXPECT_EQ(Text(Item(SRCH_STRINGS)), "ONE\r\nTWO");
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    PostMessageA(dialog, WM_CLOSE, 0, 0);  // the close box
    EXPECT_EQ(ExitCode(), 0u);
}

TEST_F(DialogTest, CancelledBrowseKeepsTheTypedPath) {
    Type(SRCHFILENAME, "typed.xml");
    PostMessageA(Item(BROWSE_BUTTON), BM_CLICK, 0, 0);
    HWND open = WaitForWindow("Open", process.dwProcessId);
    ASSERT_NE(open, nullptr);
    PostMessageA(open, WM_COMMAND, IDCANCEL, 0);
    Sleep(500);
    EXPECT_EQ(Text(Item(SRCHFILENAME)), "typed.xml");
    PostMessageA(Item(IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_EQ(ExitCode(), 0u);
}

TEST_F(DialogTest, OkSearchesAndReturnInTheSummaryOpensThePage) {
    std::string export_path = dir + "\\EXPORT.XML";
    std::ofstream(export_path, std::ios::binary)
        << "<TABLE XMLNS:USOURCE>\r\n<OCC>\r\n<USOURCE:ULABEL>calc</USOURCE:ULABEL>\r\n"
           "<USOURCE:USOURCE>\r\nentry calc\r\n  call helper()\r\n</USOURCE:USOURCE>\r\n</OCC>\r\n";
    HWND box = Search("helper\rnone", export_path);
    ASSERT_NE(box, nullptr);
    std::wstring summary = BoxText(box);
    const std::wstring page = Wide(dir) + L"\\EXPORT.html";
    EXPECT_EQ(summary.rfind(L"'HELPER' found 1 times\n'NONE' found 0 times\n\n\nSee full results in output file '" +
                                Wide(dir) + L"\\EXPORT.log'",
                            0),
              0u);
    EXPECT_NE(summary.find(L"are on the page\n'" + page + L"'"), std::wstring::npos);
    Key(process.dwThreadId, VK_RETURN);  // Show hits is the default
    EXPECT_EQ(ExitCode(), 1u);
    EXPECT_EQ(Opened(), dir + "\\EXPORT.html\r\n");
    std::string log = ReadFile(dir + "\\EXPORT.log");
    EXPECT_NE(log.find("\r\nEntry:CALC  Trigger:USOURCE(   2) :: '  CALL HELPER()'\r\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("Result Summary:\r\n'HELPER' found 1 times\r\n'NONE' found 0 times\r\n"),
              std::string::npos);
    // The page --html writes, whole: the strings, the hit in its group and
    // the element's line before it, as they stand in the export; nothing
    // left under a temporary name.
    std::string html = ReadFile(dir + "\\EXPORT.html");
    EXPECT_EQ(html.rfind("<!DOCTYPE html>\n", 0), 0u);
    EXPECT_TRUE(html.ends_with("</script>\n</body>\n</html>\n"));
    EXPECT_NE(html.find("{\"strings\":[\"HELPER\",\"NONE\"]"), std::string::npos);
    EXPECT_NE(html.find("\"outcome\":\"completed\""), std::string::npos);
    EXPECT_NE(html.find("\"groups\":[[[\"Entry:\",\"calc\"],[],\"USOURCE\"]],\"hits\":[[0,2,6,[0],\"  call \",[0,\"helper\"]"),
              std::string::npos);
    EXPECT_NE(html.find("\"near\":[5,1,\"entry calc\""), std::string::npos);
    WIN32_FIND_DATAA found;
    HANDLE temp = FindFirstFileA((dir + "\\*.tmp").c_str(), &found);
    EXPECT_EQ(temp, INVALID_HANDLE_VALUE);
    if (temp != INVALID_HANDLE_VALUE) FindClose(temp);
}

const char kFooExport[] = "<TABLE XMLNS:U>\r\n<OCC>\r\n<U:F>\r\nfoo bar\r\n</U:F>\r\n</OCC>\r\n";

// The page beside the log replaces only a page of ours: any other file of
// that name stays, and so does an export of that name, even a page of ours;
// the page then goes to the temporary folder.
TEST_F(DialogTest, ThePageReplacesNoFileButAPageOfOurs) {
    const std::string export_path = dir + "\\EXPORT.XML", beside = dir + "\\EXPORT.html";
    const std::string notes = "<!DOCTYPE html>\n<p>notes of my own</p>\n";
    std::ofstream(export_path, std::ios::binary) << kFooExport;
    std::ofstream(beside, std::ios::binary) << notes;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string in_temp = std::string(temp) + "reposearch-EXPORT.html";
    auto search = [&](const std::string& path, const char* strings, int button) {
        Start(L"");
        DeleteFileA((dir + "\\opened.txt").c_str());
        HWND box = Search(strings, path);
        ASSERT_NE(box, nullptr);
        PostMessageW(box, TDM_CLICK_BUTTON, button, 0);
        EXPECT_EQ(ExitCode(), 1u);
    };
    search(export_path, "foo", SHOW_PAGE_BUTTON);
    EXPECT_EQ(ReadFile(beside), notes);
    EXPECT_EQ(Opened(), in_temp + "\r\n");
    EXPECT_NE(ReadFile(in_temp).find("{\"strings\":[\"FOO\"]"), std::string::npos);
    DeleteFileA(in_temp.c_str());
    DeleteFileA(beside.c_str());
    search(export_path, "foo", IDCANCEL);
    EXPECT_NE(ReadFile(beside).find("{\"strings\":[\"FOO\"]"), std::string::npos);
    EXPECT_EQ(Opened(), "");  // Close opens nothing
    search(export_path, "bar", IDCANCEL);
    const std::string page = ReadFile(beside);
    EXPECT_NE(page.find("{\"strings\":[\"BAR\"]"), std::string::npos);
    search(beside, "bar", SHOW_PAGE_BUTTON);  // the page as the export
    EXPECT_TRUE(ReadFile(beside) == page);
    EXPECT_EQ(Opened(), in_temp + "\r\n");
    DeleteFileA(in_temp.c_str());
}

// A search that fails keeps its plain box, writes no page and opens nothing.
TEST_F(DialogTest, AFailedSearchShowsItsSummaryAsBefore) {
    HWND box = Search("helper", dir + "\\MISSING.XML");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Text(GetDlgItem(box, 0xFFFF)).rfind("Unable to open search file '" + dir + "\\MISSING.XML'", 0), 0u);
    EXPECT_EQ(GetDlgItem(box, SHOW_PAGE_BUTTON), nullptr);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(ExitCode(), 1u);
    EXPECT_EQ(GetFileAttributesA((dir + "\\MISSING.html").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Opened(), "");
}

// A page that cannot be written is said so; the log is still offered.
TEST_F(DialogTest, APageThatCannotBeWrittenIsSaidSo) {
    std::ofstream(dir + "\\EXPORT.XML", std::ios::binary) << kFooExport;
    CreateDirectoryA((dir + "\\EXPORT.html").c_str(), nullptr);  // beside: taken
    char tmp[MAX_PATH] = "", temp[MAX_PATH] = "";  // the program's temporary folder: none
    GetEnvironmentVariableA("TMP", tmp, MAX_PATH);
    GetEnvironmentVariableA("TEMP", temp, MAX_PATH);
    const std::string nowhere = dir + "\\no such folder\\";
    SetEnvironmentVariableA("TMP", nowhere.c_str());
    SetEnvironmentVariableA("TEMP", nowhere.c_str());
    Start(L"");
    SetEnvironmentVariableA("TMP", tmp[0] ? tmp : nullptr);
    SetEnvironmentVariableA("TEMP", temp[0] ? temp : nullptr);
    HWND box = Search("foo", dir + "\\EXPORT.XML");
    ASSERT_NE(box, nullptr);
    EXPECT_NE(BoxText(box).find(L"The page of hits could not be written: "), std::wstring::npos);
    EXPECT_EQ(GetDlgItem(box, SHOW_PAGE_BUTTON), nullptr);
    Key(process.dwThreadId, VK_RETURN);  // Open log is the default
    EXPECT_EQ(ExitCode(), 1u);
    EXPECT_EQ(Opened(), dir + "\\EXPORT.log\r\n");
}

// Where there is no task dialog, a message box offers the same.
TEST_F(DialogTest, WithoutATaskDialogAMessageBoxOffersTheSame) {
    SetEnvironmentVariableA("REPOSEARCH_TEST_MESSAGE_BOX", "1");
    Start(L"");
    std::ofstream(dir + "\\EXPORT.XML", std::ios::binary) << kFooExport;
    HWND box = Search("foo", dir + "\\EXPORT.XML");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Text(GetDlgItem(box, IDYES)), "&Show hits");
    EXPECT_EQ(Text(GetDlgItem(box, IDNO)), "Open &log");
    EXPECT_EQ(Text(GetDlgItem(box, IDCANCEL)), "Close");
    EXPECT_NE(Text(GetDlgItem(box, 0xFFFF)).find("are on the page\n'" + dir + "\\EXPORT.html'"), std::string::npos);
    PostMessageA(box, WM_COMMAND, IDNO, 0);
    EXPECT_EQ(ExitCode(), 1u);
    EXPECT_EQ(Opened(), dir + "\\EXPORT.log\r\n");
}

// A folder whose name the ANSI code page cannot hold: Cyrillic and CJK.
const std::wstring kOddFolder = L"\u041e\u0442\u0447\u0451\u0442\u044b \u62a5\u544a";

std::wstring WideText(HWND w) {
    wchar_t buffer[8192];
    SendMessageW(w, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

bool WriteWide(const std::wstring& path, const std::string& bytes) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
    return written == bytes.size();
}

std::string Utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::string ReadWide(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return "";
    std::string out;
    char block[4096];
    DWORD got = 0;
    while (::ReadFile(f, block, sizeof block, &got, nullptr) && got) out.append(block, got);
    CloseHandle(f);
    return out;
}

// A file's bytes, whoever else has it open.
std::string ReadShared(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return "";
    std::string out;
    char block[4096];
    DWORD got = 0;
    while (::ReadFile(f, block, sizeof block, &got, nullptr) && got) out.append(block, got);
    CloseHandle(f);
    return out;
}

const std::string kSmallExport =
    "<TABLE XMLNS:USOURCE>\r\n<OCC>\r\n<USOURCE:ULABEL>calc</USOURCE:ULABEL>\r\n"
    "<USOURCE:USOURCE>\r\nentry calc\r\n  call helper()\r\n</USOURCE:USOURCE>\r\n</OCC>\r\n";

// Runs reposearch-cli.exe with these arguments; its exit code, or 99 when it
// did not end. With `output`, what it wrote to standard output and error
// (through files in `dir`), one after the other.
DWORD RunCli(const std::wstring& arguments, std::string* output = nullptr, const std::wstring& dir = L"") {
    std::wstring exe = Wide(program_dir) + L"\\reposearch-cli.exe";
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    // Files of their own for each run, open to everyone: the child's handles
    // may close a moment after it has ended.
    static int runs = 0;
    const std::wstring n = std::to_wstring(runs++);
    const std::wstring out_path = dir + L"\\stdout-" + n + L".txt", err_path = dir + L"\\stderr-" + n + L".txt";
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE out = INVALID_HANDLE_VALUE, err = INVALID_HANDLE_VALUE;
    if (output) {
        out = CreateFileW(out_path.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, 0, nullptr);
        err = CreateFileW(err_path.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, 0, nullptr);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = out;
        si.hStdError = err;
    }
    PROCESS_INFORMATION cli{};
    const BOOL started = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, output != nullptr,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &si, &cli);
    DWORD code = started ? 99 : 98;
    if (started && WaitForSingleObject(cli.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(cli.hProcess, &code);
    if (started) {
        CloseHandle(cli.hProcess);
        CloseHandle(cli.hThread);
    }
    if (output) {
        CloseHandle(out);
        CloseHandle(err);
        *output = ReadShared(out_path) + ReadShared(err_path);
    }
    return code;
}

// The dialog with an export in a folder of any script.
class WidePathTest : public DialogTest {
protected:
    std::wstring folder, export_path, log_path;
    void SetUp() override {
        DialogTest::SetUp();
        folder = Wide(dir) + L"\\" + kOddFolder;
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        export_path = folder + L"\\\u0434\u0430\u043d\u043d\u044b\u0435.xml";
        log_path = folder + L"\\\u0434\u0430\u043d\u043d\u044b\u0435.log";
        ASSERT_TRUE(WriteWide(export_path, kSmallExport));
    }
    void TypeWide(int id, const std::wstring& text) {
        for (wchar_t c : text) SendMessageW(Item(id), WM_CHAR, c, 0);
    }
    // OK, then the summary: it must name the log, which must hold the hit.
    // The summary is answered with `button` (or a key where it is a key):
    // the page or the log opens, or nothing.
    void SearchAndExpectTheLog(int button) {
        PostMessageW(Item(IDOK), BM_CLICK, 0, 0);
        HWND box = WaitForWindow("Result Summary", process.dwProcessId);
        ASSERT_NE(box, nullptr);
        std::wstring summary = BoxText(box);
        EXPECT_NE(summary.find(L"See full results in output file '" + log_path + L"'"), std::wstring::npos);
        if (button == VK_ESCAPE)
            Key(process.dwThreadId, VK_ESCAPE);
        else if (button == WM_CLOSE)  // the close box
            PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            PostMessageW(box, TDM_CLICK_BUTTON, button, 0);
        EXPECT_EQ(ExitCode(), 1u);
        std::string log = ReadWide(log_path);
        EXPECT_NE(log.find("\r\nEntry:CALC  Trigger:USOURCE(   2) :: '  CALL HELPER()'\r\n"), std::string::npos)
            << log;
        // The log names the export in UTF-8, and so does the request to open a file.
        EXPECT_EQ(log.rfind("Starting search of file '" + Utf8(export_path) + "' on ", 0), 0u) << log;
        const std::wstring page = folder + L"\\\u0434\u0430\u043d\u043d\u044b\u0435.html";
        EXPECT_NE(ReadWide(page).find("</html>"), std::string::npos);
        EXPECT_EQ(Opened(), button == SHOW_PAGE_BUTTON  ? Utf8(page) + "\r\n"
                            : button == OPEN_LOG_BUTTON ? Utf8(log_path) + "\r\n"
                                                        : "");
    }
};

TEST_F(WidePathTest, ATypedPathInAnyScript) {
    Type(SRCH_STRINGS, "helper");
    TypeWide(SRCHFILENAME, export_path);
    EXPECT_EQ(WideText(Item(SRCHFILENAME)), export_path);
    SearchAndExpectTheLog(OPEN_LOG_BUTTON);
}

TEST_F(WidePathTest, APathInAnyScriptPickedWithBrowse) {
    Type(SRCH_STRINGS, "helper");
    PostMessageW(Item(BROWSE_BUTTON), BM_CLICK, 0, 0);
    HWND open = WaitForWindow("Open", process.dwProcessId);
    ASSERT_NE(open, nullptr);
    // The file name box of the open-file dialog (cmb13), then its Open button.
    SetDlgItemTextW(open, 0x47C, export_path.c_str());
    PostMessageW(open, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 100 && WideText(Item(SRCHFILENAME)) != export_path; ++i) Sleep(50);
    EXPECT_EQ(WideText(Item(SRCHFILENAME)), export_path);
    EXPECT_TRUE(OkEnabled());
    SearchAndExpectTheLog(WM_CLOSE);
}

TEST_F(WidePathTest, TheCommandLineTakesAPathInAnyScript) {
    PostMessageW(Item(IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_EQ(RunCli(L"-q \"" + export_path + L"\" helper"), 0u);
    EXPECT_NE(ReadWide(log_path).find("Trigger:USOURCE(   2) :: '  CALL HELPER()'"), std::string::npos);
}

// A file dropped onto the dialog. Windows hands a drop over as a handle to a
// DROPFILES block holding the paths; here the block is put into the
// program's memory directly. Wine takes such a block's address as the
// handle; Windows would not free it, so the test runs under wine only.
TEST_F(WidePathTest, AFileDroppedOntoTheDialogFillsThePath) {
    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) GTEST_SKIP() << "wine only";
    EXPECT_NE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
    std::wstring second = folder + L"\\other.xml";
    std::string block(sizeof(DROPFILES), '\0');
    DROPFILES header{};
    header.pFiles = sizeof(DROPFILES);
    header.fWide = TRUE;
    std::memcpy(block.data(), &header, sizeof header);
    for (const std::wstring& path : {export_path, second})  // the first one dropped counts
        block.append(reinterpret_cast<const char*>(path.c_str()), (path.size() + 1) * sizeof(wchar_t));
    block.append(sizeof(wchar_t), '\0');
    void* remote = VirtualAllocEx(process.hProcess, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(remote, nullptr);
    ASSERT_TRUE(WriteProcessMemory(process.hProcess, remote, block.data(), block.size(), nullptr));
    Type(SRCH_STRINGS, "helper");
    PostMessageW(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0);
    for (int i = 0; i < 100 && WideText(Item(SRCHFILENAME)) != export_path; ++i) Sleep(50);
    EXPECT_EQ(WideText(Item(SRCHFILENAME)), export_path);
    EXPECT_TRUE(OkEnabled());
    SearchAndExpectTheLog(VK_ESCAPE);
}

// "Open with", "Send to" and a file dropped onto the program's icon all
// start the program with the file's path as its argument.
TEST_F(WidePathTest, APathOnTheCommandLineFillsThePath) {
    Start(L"\"" + export_path + L"\"");
    EXPECT_EQ(WideText(Item(SRCHFILENAME)), export_path);
    EXPECT_FALSE(OkEnabled());  // the strings are still to be typed
    Type(SRCH_STRINGS, "helper");
    EXPECT_TRUE(OkEnabled());
    SearchAndExpectTheLog(SHOW_PAGE_BUTTON);
}

// The label above the path field has the room of two lines, so its last
// words are not hidden behind the field.
TEST_F(DialogTest, ThePathLabelHasRoomForTwoLines) {
    RECT label, field, strings_label;
    GetWindowRect(Item(SRCHFILENAME_LABEL), &label);
    GetWindowRect(Item(SRCHFILENAME), &field);
    GetWindowRect(Item(SRCH_STRINGS_LABEL), &strings_label);  // two lines since ever
    EXPECT_EQ(label.bottom - label.top, strings_label.bottom - strings_label.top);
    EXPECT_LE(label.bottom, field.top);
    PostMessageW(Item(IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_EQ(ExitCode(), 0u);
}

// Its shells leave "*" and "?" to the program on Windows.
TEST_F(WidePathTest, TheCommandLineExpandsWildcardsAndSearchesMany) {
    PostMessageW(Item(IDCANCEL), BM_CLICK, 0, 0);
    ASSERT_TRUE(WriteWide(folder + L"\\b.XML", kSmallExport));
    ASSERT_TRUE(WriteWide(folder + L"\\notes.txt", kSmallExport));
    const std::wstring all_log = folder + L"\\all.log";
    EXPECT_EQ(RunCli(L"-q -e helper --log \"" + all_log + L"\" \"" + folder + L"\\*.xml\""), 0u);
    // Both exports, in sorted order, and nothing else.
    std::string log = ReadWide(all_log);
    const std::size_t first = log.find("b.XML' on "), second = log.find(".xml' on ");
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_NE(second, std::string::npos) << log;
    EXPECT_LT(first, second);
    EXPECT_EQ(log.find("notes.txt"), std::string::npos);
}

// The logs in a folder, by name.
std::vector<std::wstring> Logs(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*.log").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// A wildcard that matches nothing: said so, no log, a failure.
TEST_F(WidePathTest, AWildcardThatMatchesNothingIsAFailure) {
    PostMessageW(Item(IDCANCEL), BM_CLICK, 0, 0);
    for (const std::wstring& name : Logs(folder)) DeleteFileW((folder + L"\\" + name).c_str());  // an earlier run's
    ASSERT_TRUE(WriteWide(folder + L"\\b.XML", kSmallExport));
    std::string output;
    EXPECT_EQ(RunCli(L"-q --json -e helper \"" + folder + L"\\nomatch*.xml\"", &output, Wide(dir)), 2u);
    EXPECT_NE(output.find("\"outcome\":\"export_not_opened\""), std::string::npos) << output;
    EXPECT_NE(output.find("nomatch*.xml: no file matches"), std::string::npos) << output;
    EXPECT_EQ(output.find("Unable to open output file"), std::string::npos) << output;
    EXPECT_TRUE(Logs(folder).empty());
    // Among others: they are searched, it fails in its place.
    EXPECT_EQ(RunCli(L"-q -e helper \"" + folder + L"\\nomatch*.xml\" \"" + folder + L"\\b.?ml\"", &output, Wide(dir)),
              2u);
    EXPECT_NE(output.find("Totals over 2 exports (1 completed, 1 failed):"), std::string::npos) << output;
    EXPECT_EQ(Logs(folder), std::vector<std::wstring>{L"b.log"});
}

// The manifest in effect: the common controls of version 6 loaded (the themed
// ones), and the dialog aware of each monitor's scaling.
TEST_F(DialogTest, TheManifestGivesThemedControlsAndDpiAwareness) {
    DPI_AWARENESS_CONTEXT context = GetWindowDpiAwarenessContext(dialog);
    EXPECT_EQ(GetAwarenessFromDpiAwarenessContext(context), DPI_AWARENESS_PER_MONITOR_AWARE);

    HMODULE modules[512];
    DWORD bytes = 0;
    ASSERT_TRUE(EnumProcessModules(process.hProcess, modules, sizeof modules, &bytes));
    std::wstring comctl;
    for (DWORD i = 0; i < bytes / sizeof(HMODULE); ++i) {
        wchar_t name[MAX_PATH];
        if (!GetModuleFileNameExW(process.hProcess, modules[i], name, MAX_PATH)) continue;
        std::wstring path = name;
        std::wstring base = path.substr(path.find_last_of(L"\\/") + 1);
        for (wchar_t& c : base) c = static_cast<wchar_t>(towlower(c));
        if (base == L"comctl32.dll") comctl = path;
    }
    ASSERT_FALSE(comctl.empty());
    // Version 6 is the side-by-side assembly the manifest names; without it
    // the system folder's version 5 is loaded.
    for (wchar_t& c : comctl) c = static_cast<wchar_t>(towlower(c));
    EXPECT_NE(comctl.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::wstring::npos)
        << "comctl32 loaded from " << std::string(comctl.begin(), comctl.end());
    PostMessageW(Item(IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_EQ(ExitCode(), 0u);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    program_dir = self;
    // The build puts this program in tests\dialog beside reposearch.exe's folder.
    program_dir = program_dir.substr(0, program_dir.find_last_of("\\/")) + "\\..\\..";
    return RUN_ALL_TESTS();
}
