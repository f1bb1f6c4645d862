// The program's start: the application's name and icon, and its three windows created in their order.
#pragma once

#include <QStringList>

#include <memory>
#include <string>

class TForm1;
class TForm2;
class TForm3;

// The application object's windows: closing the main window ends the program.
struct TApplicationWindows {
    std::unique_ptr<TForm1> Form1;
    std::unique_ptr<TForm2> Form2;
    std::unique_ptr<TForm3> Form3;
    TApplicationWindows();
    TApplicationWindows(TApplicationWindows&&) noexcept;
    TApplicationWindows& operator=(TApplicationWindows&&) noexcept;
    ~TApplicationWindows();
};

// The command line's switches. Only the first argument counts, compared exactly with
// "/autostart", "-autostart", "/autostartclose" and "-autostartclose".
struct TSwitches {
    bool AutoStart = false;       // start a run after each showing of the main window
    bool AutoStartClose = false;  // and end the program after it
};
TSwitches ReadSwitches(const std::string& firstArgument);

// Exit statuses of the program.
inline constexpr int kExitDone = 0;       // normal end
inline constexpr int kExitRunFailed = 1;  // an automatic run ended with an error or packed nothing
inline constexpr int kExitNoDisplay = 2;  // no display, and no switch that lets the program run without one

// True when a display is configured: QT_QPA_PLATFORM names a platform, or DISPLAY or
// WAYLAND_DISPLAY is set.
bool DisplayConfigured();
// True for the Qt platforms that draw nowhere anybody can see.
bool IsInvisiblePlatform(const std::string& platformName);

// The program: the command line is argv; returns the exit status. Without a display it runs
// only with an auto-close switch, on the offscreen platform, and every box goes to stderr.
int RunProgram(int argc, char** argv);

// Names the application and gives it the program's icon.
void SetUpApplication();
// Creates the main window (which reads `arguments`, the command line without the program's
// name), then the password dialog, then the countdown window, and ties them together. None is shown.
TApplicationWindows CreateWindows(const QStringList& arguments);
