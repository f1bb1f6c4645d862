// Switching the machine off at the end of a run: systemd-logind over D-Bus (ExitWindowsEx on Windows) behind a replaceable seam, and the process's priority.
#pragma once

#ifndef _WIN32
#include <QDBusConnection>
#endif

#include <memory>
#include <string>

namespace platform {

// The system's power switch as the program sees it.
class PowerControl {
public:
    virtual ~PowerControl() = default;
    // True when this user may switch the machine off without being asked anything.
    virtual bool CanPowerOff() = 0;
    // Asks the system to switch off now, closing the other programs; false when it refused.
    virtual bool PowerOff() = 0;
};

#ifndef _WIN32
// systemd-logind on the given bus: the right counts only when CanPowerOff answers "yes";
// PowerOff is asked for without interaction. Any D-Bus error counts as a refusal.
class LogindPowerControl : public PowerControl {
public:
    explicit LogindPowerControl(QDBusConnection bus);
    bool CanPowerOff() override;
    bool PowerOff() override;

private:
    QDBusConnection bus_;
};
#endif

// True when FOLVIO_NO_SHUTDOWN is "1": the machine is never switched off (tests, trials).
bool ShutdownDisabled();

// The power control in use: unless another is installed, logind on the system bus (on Windows
// ExitWindowsEx with the shutdown privilege), which with
// FOLVIO_NO_SHUTDOWN=1 grants the right without asking and writes a line on stderr in place of
// the request.
PowerControl& powerControl();

// Installs another power control for its lifetime and puts the previous one back afterwards.
class ScopedPowerControl {
public:
    explicit ScopedPowerControl(PowerControl& replacement);
    ~ScopedPowerControl();
    ScopedPowerControl(const ScopedPowerControl&) = delete;
    ScopedPowerControl& operator=(const ScopedPowerControl&) = delete;

private:
    PowerControl* previous_;
};

// The lowest nice value this process may take without privileges (RLIMIT_NICE), never below -20.
int LowestUnprivilegedNice();
// Raises the process's priority as far as an ordinary process may: lowers its nice value to
// LowestUnprivilegedNice() when that is lower. The scheduling class stays the ordinary one.
// The new nice value, or the unchanged one when nothing could be raised.
int RaiseOwnPriority();

}  // namespace platform
