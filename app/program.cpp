#include "app/program.h"

#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/msgbox.h"
#include "app/pictures.h"
#include "app/screenshots.h"
#include "buildinfo.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

constexpr char kUsage[] = R"(Usage: folvio [SWITCH]

Marvane Folvio 2.0 packs every checked folder of its list into a ZIP archive of its own in the
destination folder. Without a switch it opens its window; only the first argument counts, and it
is compared exactly as written.

Switches:
  -autostart, /autostart    start a run half a second after the window shows, and again after
                            each aborted shutdown countdown
  -autostartclose, /autostartclose
                            start a run and end the program when it is over. Without a display
                            it runs unseen: every question is answered with its default button
                            (the deletion question with Yes), every notice and error goes to
                            stderr, and the machine is never switched off
  --screenshot DIR          write each window as a PNG into DIR (private settings, sample content)
  -h, --help                show this text
  --version                 show the version

Exit status:
  0  the window was closed, or every checked folder was packed
  1  an automatic run ended with an error or had nothing to pack
  2  no display is available and no -autostartclose was given

Environment:
  FOLVIO_NO_SHUTDOWN=1      never switch the machine off: the power-off after the countdown is
                            only written to stderr
  MARVANE_REGISTRY_DIR      the folder of the registry that holds the destination and the options
                            (default ~/.config/marvane/registry); see folvio-reg --help
  QT_QPA_PLATFORM, DISPLAY, WAYLAND_DISPLAY
                            where the window is shown; with none set there is no display

The folder list is data.mvo beside the program, or ~/.config/marvane/folvio/data.mvo when the
program is installed or its folder is not writable.
)";

bool envSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

TSwitches ReadSwitches(const std::string& firstArgument) {
    TSwitches switches;
    for (const char* s : {"/autostart", "-autostart", "/autostartclose", "-autostartclose"})
        if (firstArgument == s) switches.AutoStart = true;
    for (const char* s : {"/autostartclose", "-autostartclose"})
        if (firstArgument == s) switches.AutoStartClose = true;
    return switches;
}

bool DisplayConfigured() { return envSet("QT_QPA_PLATFORM") || envSet("DISPLAY") || envSet("WAYLAND_DISPLAY"); }

bool IsInvisiblePlatform(const std::string& platformName) {
    return platformName == "offscreen" || platformName == "minimal";
}

int RunProgram(int argc, char** argv) {
    const std::string first = argc > 1 ? argv[1] : "";
    const bool screenshots = first == "--screenshot";
    const TSwitches switches = ReadSwitches(first);
    if (first == "--version") {
        std::fputs(buildinfo::VersionText("folvio").c_str(), stdout);
        return kExitDone;
    }
    if (first == "--help" || first == "-h") {
        std::fputs(kUsage, stdout);
        return kExitDone;
    }
    constexpr char kNeedsDesktop[] =
        "folvio: no display is available. Start folvio on a desktop, or with -autostartclose to run the\n"
        "backup without one (the folders, the destination and the options set beforehand).\n";
    if (!DisplayConfigured()) {
        if (!switches.AutoStartClose && !screenshots) {
            std::fputs(kNeedsDesktop, stderr);
            return kExitNoDisplay;
        }
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    QApplication app(argc, argv);
    SetUpApplication();
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();

    // Hidden option for reviewers: "--screenshot DIR" writes pictures of the windows and exits.
    if (arguments.size() == 2 && arguments[0] == "--screenshot") {
        try {
            for (const QString& file : screenshots::Write(arguments[1])) std::printf("wrote %s\n", qPrintable(file));
            return 0;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "folvio: %s\n", e.what());
            return 1;
        }
    }

    // Nobody can see the windows: the program may only run a backup and end, and no box may wait.
    const bool unattended = IsInvisiblePlatform(QGuiApplication::platformName().toStdString());
    if (unattended) {
        if (!switches.AutoStartClose) {
            std::fputs(kNeedsDesktop, stderr);
            return kExitNoDisplay;
        }
        msgbox::SetHandler(msgbox::AnswerOnStandardError);
    }

    TApplicationWindows windows = CreateWindows(arguments);
    windows.Form1->Unattended = unattended;
    windows.Form1->show();
    return QApplication::exec();
}

TApplicationWindows::TApplicationWindows() = default;
TApplicationWindows::TApplicationWindows(TApplicationWindows&&) noexcept = default;
TApplicationWindows& TApplicationWindows::operator=(TApplicationWindows&&) noexcept = default;
TApplicationWindows::~TApplicationWindows() = default;

void SetUpApplication() {
    QApplication::setApplicationName("folvio");
    QApplication::setOrganizationName("Marvane");
    QApplication::setApplicationVersion(buildinfo::kVersion);
    // The desktop entry's id: the desktop groups the windows under the entry's name and icon.
    QGuiApplication::setDesktopFileName(buildinfo::kAppId);
    QApplication::setWindowIcon(pictures::ProgramIcon());
}

TApplicationWindows CreateWindows(const QStringList& arguments) {
    TApplicationWindows windows;
    windows.Form1 = std::make_unique<TForm1>(arguments);
    windows.Form2 = std::make_unique<TForm2>();
    windows.Form3 = std::make_unique<TForm3>();
    windows.Form1->Form2 = windows.Form2.get();
    windows.Form1->Form3 = windows.Form3.get();
    windows.Form3->Form1 = windows.Form1.get();
    return windows;
}
