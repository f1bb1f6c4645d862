// Processes on Windows: a process told alive by OpenProcess.
#include "platform/process.h"

#include "platform/winapi_win32.h"

namespace platform {

long long CurrentProcessId() { return GetCurrentProcessId(); }

bool ProcessRunning(long pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool alive = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return alive;
}

}  // namespace platform
