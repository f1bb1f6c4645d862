// The program: creates the application and its three windows and shows the main window.
#include "app/form1.h"
#include "app/program.h"
#include "app/screenshots.h"

#include <QApplication>

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
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

    TApplicationWindows windows = CreateWindows(arguments);
    windows.Form1->show();
    return QApplication::exec();
}
