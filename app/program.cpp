#include "app/program.h"

#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/pictures.h"

#include <QApplication>

TApplicationWindows::TApplicationWindows() = default;
TApplicationWindows::TApplicationWindows(TApplicationWindows&&) noexcept = default;
TApplicationWindows& TApplicationWindows::operator=(TApplicationWindows&&) noexcept = default;
TApplicationWindows::~TApplicationWindows() = default;

void SetUpApplication() {
    QApplication::setApplicationName("folvio");
    QApplication::setOrganizationName("Marvane");
    QApplication::setWindowIcon(pictures::ProgramIcon());
}

TApplicationWindows CreateWindows(const QStringList& arguments) {
    TApplicationWindows windows;
    windows.Form1 = std::make_unique<TForm1>(arguments);
    windows.Form2 = std::make_unique<TForm2>();
    windows.Form3 = std::make_unique<TForm3>();
    windows.Form1->Form2 = windows.Form2.get();
    windows.Form1->Form3 = windows.Form3.get();
    return windows;
}
