// Drives the real dialog program as a user would: typing into its fields,
// Return, Browse, OK, Cancel and the close box, answering its message boxes.
// Runs under Windows or wine, in a virtual display on Linux.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

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
        std::string exe = program_dir + "\\reposearch.exe";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        ASSERT_TRUE(CreateProcessA(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(),
                                   &si, &process))
            << exe;
        dialog = WaitForWindow("Search for specified string(s)", process.dwProcessId);
        ASSERT_NE(dialog, nullptr);
    }
    void TearDown() override {
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }

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

TEST_F(DialogTest, OkSearchesWritesTheLogAndShowsTheSummary) {
    std::string export_path = dir + "\\EXPORT.XML";
    std::ofstream(export_path, std::ios::binary)
        << "<TABLE XMLNS:USOURCE>\r\n<OCC>\r\n<USOURCE:ULABEL>calc</USOURCE:ULABEL>\r\n"
           "<USOURCE:USOURCE>\r\nentry calc\r\n  call helper()\r\n</USOURCE:USOURCE>\r\n</OCC>\r\n";
    Type(SRCH_STRINGS, "helper\rnone");
    Type(SRCHFILENAME, export_path);
    PostMessageA(Item(IDOK), BM_CLICK, 0, 0);
    HWND box = WaitForWindow("Result Summary", process.dwProcessId);
    ASSERT_NE(box, nullptr);
    std::string summary = Text(GetDlgItem(box, 0xFFFF));
    EXPECT_EQ(summary.rfind("'HELPER' found 1 times", 0), 0u) << summary;
    EXPECT_NE(summary.find("'NONE' found 0 times"), std::string::npos) << summary;
    EXPECT_NE(summary.find("See full results in output file '" + dir + "\\EXPORT.log'"), std::string::npos)
        << summary;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(ExitCode(), 1u);
    std::string log = ReadFile(dir + "\\EXPORT.log");
    EXPECT_NE(log.find("\r\nEntry:CALC  Trigger:USOURCE(   2) :: '  CALL HELPER()'\r\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("Result Summary:\r\n'HELPER' found 1 times\r\n'NONE' found 0 times\r\n"),
              std::string::npos);
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
