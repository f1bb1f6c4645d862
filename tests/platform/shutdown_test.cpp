// The power-off request: logind's answers on a private bus with a fake logind, the FOLVIO_NO_SHUTDOWN guard, the priority.
#include "platform/shutdown.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QThread>

#include <sched.h>
#include <sys/resource.h>

#include <atomic>
#include <memory>

namespace {

// Stands in for systemd-logind's manager object; answers from its own thread.
class FakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    QString answer = "yes";
    std::atomic<int> rightAsked{0};
    std::atomic<int> powerOffs{0};
    std::atomic<bool> interactive{true};

public slots:
    QString CanPowerOff() {
        ++rightAsked;
        return answer;
    }
    void PowerOff(bool askUser) {
        ++powerOffs;
        interactive = askUser;
    }
};

// A private message bus of its own (never the system's), with a fake logind on it when asked.
class PrivateBus {
public:
    explicit PrivateBus(bool withLogind) {
        // The session bus's configuration, listening on a socket in a folder of our own.
        daemon.start("dbus-daemon", {"--session", "--address=unix:path=" + QString::fromStdString((dir / "bus").string()),
                                     "--nofork", "--print-address=1"});
        if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000)) return;
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        if (!withLogind) return;
        logind = new FakeLogind;
        logind->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, logind, &QObject::deleteLater);
        thread.start();
        QDBusConnection service = QDBusConnection::connectToBus(address, "fake-logind");
        registered = service.registerService("org.freedesktop.login1") &&
                     service.registerObject("/org/freedesktop/login1", logind, QDBusConnection::ExportAllSlots);
    }
    ~PrivateBus() {
        QDBusConnection::disconnectFromBus("fake-logind");
        QDBusConnection::disconnectFromBus("client");
        thread.quit();
        thread.wait();
        if (!thread.isFinished()) delete logind;  // never started: still here
        daemon.terminate();  // the daemon this test started, by its own handle
        daemon.waitForFinished(5000);
    }
    QDBusConnection client() { return QDBusConnection::connectToBus(address, "client"); }

    testsupport::TempDir dir;
    QProcess daemon;
    QString address;
    QThread thread;
    FakeLogind* logind = nullptr;  // lives in thread and goes with it
    bool registered = false;
};

TEST(Shutdown, TheRightCountsOnlyWhenLogindAnswersYes) {
    struct Case {
        const char* answer;
        bool granted;
    };
    for (const Case& c : {Case{"yes", true}, Case{"challenge", false}, Case{"no", false}, Case{"na", false}}) {
        PrivateBus bus(true);
        ASSERT_TRUE(bus.registered) << "no private bus with a fake logind";
        bus.logind->answer = c.answer;
        platform::LogindPowerControl logind(bus.client());
        EXPECT_EQ(logind.CanPowerOff(), c.granted) << c.answer;
        EXPECT_EQ(bus.logind->rightAsked, 1);
        EXPECT_EQ(bus.logind->powerOffs, 0) << "asking for the right switches nothing off";
    }
}

TEST(Shutdown, PowerOffAsksLogindWithoutInteraction) {
    PrivateBus bus(true);
    ASSERT_TRUE(bus.registered);
    platform::LogindPowerControl logind(bus.client());
    EXPECT_TRUE(logind.PowerOff());
    EXPECT_EQ(bus.logind->powerOffs, 1);
    EXPECT_FALSE(bus.logind->interactive);
}

TEST(Shutdown, WithoutLogindNothingIsGranted) {
    PrivateBus bus(false);
    ASSERT_FALSE(bus.address.isEmpty());
    platform::LogindPowerControl logind(bus.client());
    EXPECT_FALSE(logind.CanPowerOff());
    EXPECT_FALSE(logind.PowerOff());
    platform::LogindPowerControl nowhere(QDBusConnection("not connected"));
    EXPECT_FALSE(nowhere.CanPowerOff());
}

TEST(Shutdown, TheGuardKeepsTheRequestFromAnyBus) {
    // Even a system bus that leads to a logind would not be asked while FOLVIO_NO_SHUTDOWN is "1".
    PrivateBus bus(true);
    ASSERT_TRUE(bus.registered);
    testsupport::ScopedEnv systemBus("DBUS_SYSTEM_BUS_ADDRESS", bus.address.toStdString());
    testsupport::ScopedEnv guard("FOLVIO_NO_SHUTDOWN", "1");
    ASSERT_TRUE(platform::ShutdownDisabled());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(platform::powerControl().CanPowerOff());
    EXPECT_TRUE(platform::powerControl().PowerOff());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("FOLVIO_NO_SHUTDOWN=1"), std::string::npos) << err;
    EXPECT_EQ(bus.logind->rightAsked + bus.logind->powerOffs, 0);

    for (const char* other : {"0", "", "yes", "11"}) {
        testsupport::ScopedEnv value("FOLVIO_NO_SHUTDOWN", std::string(other));
        EXPECT_FALSE(platform::ShutdownDisabled()) << other;
    }
}

TEST(Shutdown, AnInstalledControlTakesTheRequestsForItsLifetime) {
    struct Recorder : platform::PowerControl {
        int calls = 0;
        bool CanPowerOff() override { return ++calls, false; }
        bool PowerOff() override { return ++calls, false; }
    } recorder;
    platform::PowerControl* before = &platform::powerControl();
    {
        platform::ScopedPowerControl installed(recorder);
        EXPECT_FALSE(platform::powerControl().CanPowerOff());
        EXPECT_EQ(recorder.calls, 1);
    }
    EXPECT_EQ(&platform::powerControl(), before);
}

TEST(Shutdown, ThePriorityRisesOnlyAsFarAsTheNiceLimitAllows) {
    ASSERT_EQ(setpriority(PRIO_PROCESS, 0, 5), 0);  // a lower priority is always allowed
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NICE, &saved), 0);

    rlimit none = saved;
    none.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_NICE, &none), 0);
    EXPECT_EQ(platform::LowestUnprivilegedNice(), 20);
    EXPECT_EQ(platform::RaiseOwnPriority(), 5) << "no allowance: the priority stays";
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), 5);

    rlimit some = saved;
    some.rlim_cur = 17;  // nice values down to 3
    if (some.rlim_max != RLIM_INFINITY && some.rlim_max < 17) some.rlim_max = 17;
    if (setrlimit(RLIMIT_NICE, &some) == 0) {
        EXPECT_EQ(platform::LowestUnprivilegedNice(), 3);
        EXPECT_EQ(platform::RaiseOwnPriority(), 3);
        EXPECT_EQ(getpriority(PRIO_PROCESS, 0), 3);
    }
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER) << "never a real-time class";
    setrlimit(RLIMIT_NICE, &saved);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "shutdown_test.moc"
