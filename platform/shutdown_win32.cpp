// The power-off request on Windows: ExitWindowsEx with the shutdown privilege, and the priority class.
#include "platform/shutdown.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "platform/winapi_win32.h"

namespace platform {

namespace {

// Enables the shutdown privilege in the process's token; false when the token does not hold it.
bool enableShutdownPrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool ok = LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid) &&
              AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    // AdjustTokenPrivileges succeeds without granting what the token lacks, and says so here.
    ok = ok && GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return ok;
}

// The system's power switch, never touched while FOLVIO_NO_SHUTDOWN is "1".
class SystemPowerControl : public PowerControl {
public:
    bool CanPowerOff() override { return ShutdownDisabled() || enableShutdownPrivilege(); }
    bool PowerOff() override {
        if (ShutdownDisabled()) {
            std::fprintf(stderr, "folvio: the machine would be switched off now (FOLVIO_NO_SHUTDOWN=1 keeps it on)\n");
            return true;
        }
        if (!enableShutdownPrivilege()) return false;
        // Other programs are asked to close and forced when they hang, as a planned shutdown does.
        return ExitWindowsEx(EWX_POWEROFF | EWX_FORCEIFHUNG,
                             SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_MAINTENANCE | SHTDN_REASON_FLAG_PLANNED) != 0;
    }
};

PowerControl*& installed() {
    static SystemPowerControl system;
    static PowerControl* current = &system;
    return current;
}

// The nice value the high priority class stands for; an ordinary user may take it.
constexpr int kHighPriorityNice = -10;

}  // namespace

bool ShutdownDisabled() {
    const char* value = std::getenv("FOLVIO_NO_SHUTDOWN");
    return value && std::strcmp(value, "1") == 0;
}

PowerControl& powerControl() { return *installed(); }

ScopedPowerControl::ScopedPowerControl(PowerControl& replacement) : previous_(installed()) { installed() = &replacement; }

ScopedPowerControl::~ScopedPowerControl() { installed() = previous_; }

int LowestUnprivilegedNice() { return kHighPriorityNice; }

int RaiseOwnPriority() {
    const DWORD current = GetPriorityClass(GetCurrentProcess());
    if (current == HIGH_PRIORITY_CLASS || current == REALTIME_PRIORITY_CLASS) return kHighPriorityNice;
    return SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS) ? kHighPriorityNice : 0;
}

}  // namespace platform
