// Stop requests on Windows: the console's control events.
#include "platform/interrupt.h"

#include "platform/winapi_win32.h"

namespace platform {

namespace {

volatile std::sig_atomic_t* raised = nullptr;

// Ctrl+C and Ctrl+Break, a closed console, a log-off: the job cancels as on a signal.
BOOL WINAPI onConsoleEvent(DWORD) {
    *raised = 1;
    return TRUE;
}

}  // namespace

void CatchInterrupts(volatile std::sig_atomic_t& flag) {
    raised = &flag;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

}  // namespace platform
