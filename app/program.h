// The program's start: the application's name and icon, and its three windows created in their order.
#pragma once

#include <QStringList>

#include <memory>

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

// Names the application and gives it the program's icon.
void SetUpApplication();
// Creates the main window (which reads `arguments`, the command line without the program's
// name), then the password dialog, then the countdown window, and ties them together. None is shown.
TApplicationWindows CreateWindows(const QStringList& arguments);
