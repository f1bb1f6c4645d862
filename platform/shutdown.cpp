#include "platform/shutdown.h"

#include <QDBusMessage>

#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

constexpr char kLogindService[] = "org.freedesktop.login1";
constexpr char kLogindPath[] = "/org/freedesktop/login1";
constexpr char kLogindManager[] = "org.freedesktop.login1.Manager";
constexpr int kCallTimeoutMs = 10000;

// Logind on the system bus, never reached while FOLVIO_NO_SHUTDOWN is "1".
class SystemPowerControl : public PowerControl {
public:
    bool CanPowerOff() override {
        if (ShutdownDisabled()) return true;
        return LogindPowerControl(QDBusConnection::systemBus()).CanPowerOff();
    }
    bool PowerOff() override {
        if (ShutdownDisabled()) {
            std::fprintf(stderr, "folvio: the machine would be switched off now (FOLVIO_NO_SHUTDOWN=1 keeps it on)\n");
            return true;
        }
        return LogindPowerControl(QDBusConnection::systemBus()).PowerOff();
    }
};

PowerControl*& installed() {
    static SystemPowerControl system;
    static PowerControl* current = &system;
    return current;
}

}  // namespace

LogindPowerControl::LogindPowerControl(QDBusConnection bus) : bus_(std::move(bus)) {}

bool LogindPowerControl::CanPowerOff() {
    if (!bus_.isConnected()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kLogindService, kLogindPath, kLogindManager, "CanPowerOff");
    const QDBusMessage reply = bus_.call(call, QDBus::Block, kCallTimeoutMs);
    // "challenge" (a password would be asked), "no" and "na" all withhold the right.
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1 &&
           reply.arguments().constFirst().toString() == "yes";
}

bool LogindPowerControl::PowerOff() {
    if (!bus_.isConnected()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kLogindService, kLogindPath, kLogindManager, "PowerOff");
    call << false;  // not interactive: nobody is asked for a password
    return bus_.call(call, QDBus::Block, kCallTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

bool ShutdownDisabled() {
    const char* value = std::getenv("FOLVIO_NO_SHUTDOWN");
    return value && std::strcmp(value, "1") == 0;
}

PowerControl& powerControl() { return *installed(); }

ScopedPowerControl::ScopedPowerControl(PowerControl& replacement) : previous_(installed()) { installed() = &replacement; }

ScopedPowerControl::~ScopedPowerControl() { installed() = previous_; }

int LowestUnprivilegedNice() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NICE, &limit) != 0) return 20;
    // The limit is 20 minus the lowest nice value allowed: 0 allows nothing below 20.
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= 40) return -20;
    return 20 - static_cast<int>(limit.rlim_cur);
}

int RaiseOwnPriority() {
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, 0);
    if (current == -1 && errno != 0) return 0;
    const int target = LowestUnprivilegedNice();
    if (target >= current) return current;
    // Only the nice value changes (of the calling thread, the GUI thread, on Linux): the
    // scheduling class stays the ordinary time-sharing one.
    return setpriority(PRIO_PROCESS, 0, target) == 0 ? target : current;
}

}  // namespace platform
