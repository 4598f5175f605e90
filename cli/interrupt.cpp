// The signal handlers of the command line. A handler does only what is safe
// in one: it stores into lock-free atomics, and on the second signal removes
// the pending file, whose name waits in a static buffer, and ends the
// program with _exit.
#include "interrupt.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "../engine/paths.h"
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace {

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the handlers may only touch lock-free atomics");

std::atomic<bool> stop{false};
std::atomic<int> status{0};  // the exit status the first signal asks for

// The pending file: its name is written while `pending` is false, and read
// by a handler only while it is true.
std::atomic<bool> pending{false};
#ifdef _WIN32
wchar_t pending_name[32768];
#else
char pending_name[4096];
#endif

// A signal came that asks for `exit_status`: the first raises the flag, the
// next ends the program.
void Signalled(int exit_status) {
    int none = 0;
    if (status.compare_exchange_strong(none, exit_status)) {
        stop.store(true);
        return;
    }
    if (pending.load()) {
#ifdef _WIN32
        DeleteFileW(pending_name);
#else
        unlink(pending_name);
#endif
    }
    _exit(exit_status);
}

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD event) {
    const bool closing = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    Signalled(closing ? 143 : 130);
    // The process ends once this returns from a close: a few seconds for
    // the searches to end their logs.
    if (closing) Sleep(4000);
    return TRUE;
}
#else
extern "C" void OnSignal(int signal_number) { Signalled(128 + signal_number); }
#endif

}  // namespace

void CatchInterrupts() {
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    for (int signal_number : {SIGINT, SIGTERM}) {
        struct sigaction action {};
        if (sigaction(signal_number, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) continue;
        action = {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;  // reads and waits go on; the searches look at the flag
        sigaction(signal_number, &action, nullptr);
    }
    signal(SIGPIPE, SIG_IGN);  // a closed output is a failed write, and the logs are ended
#endif
}

void OutputClosed() {
    int none = 0;
    if (status.compare_exchange_strong(none, 141)) stop.store(true);
}

const std::atomic<bool>& InterruptFlag() { return stop; }

int InterruptStatus() { return status.load(); }

void SetPendingFile(const std::string& path) {
    pending.store(false);
    if (path.empty()) return;
#ifdef _WIN32
    const std::wstring wide = PathOf(path).wstring();
    if (wide.size() >= sizeof pending_name / sizeof pending_name[0]) return;
    std::wmemcpy(pending_name, wide.c_str(), wide.size() + 1);
#else
    if (path.size() >= sizeof pending_name) return;
    std::memcpy(pending_name, path.c_str(), path.size() + 1);
#endif
    pending.store(true);
}
