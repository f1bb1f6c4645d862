#include "app/screenshots.h"

#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/msgbox.h"
#include "app/pictures.h"
#include "app/program.h"
#include "controls/gradientprogressbar.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <stdexcept>

namespace screenshots {

namespace {

void save(const QImage& image, const QString& file, QStringList& written) {
    if (!image.save(file, "PNG")) throw std::runtime_error("Cannot create file " + file.toStdString() + ".");
    written << file;
}

// An environment variable set for the pictures and put back afterwards.
class Borrowed {
public:
    Borrowed(const char* name, const QString& value) : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        qputenv(name, value.toUtf8());
    }
    ~Borrowed() {
        if (had_) qputenv(name_, old_);
        else qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

// Answers every message box at once while the pictures are taken.
class QuietBoxes {
public:
    QuietBoxes() : previous_(msgbox::SetHandler([](const msgbox::Request&) { return msgbox::Answer::Ok; })) {}
    ~QuietBoxes() { msgbox::SetHandler(previous_); }

private:
    msgbox::Handler previous_;
};

// The application's palette replaced for the lifetime of the object.
class Palette {
public:
    explicit Palette(const QPalette& palette) : previous_(QApplication::palette()) { QApplication::setPalette(palette); }
    ~Palette() { QApplication::setPalette(previous_); }

private:
    QPalette previous_;
};

// Shows the window, then lets `fill` put the sample content in (showing resets the dialogs), and grabs it.
QImage grabShown(QWidget& w, const std::function<void()>& fill = {}) {
    w.show();
    if (fill) fill();
    QApplication::processEvents();
    return w.grab().toImage();
}

}  // namespace

QPalette DarkPalette() {
    QPalette p;
    const QColor window(0x2d, 0x2d, 0x30), base(0x1e, 0x1e, 0x1e), text(0xe8, 0xe8, 0xe8);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        p.setColor(group, QPalette::Window, window);
        p.setColor(group, QPalette::WindowText, disabled ? QColor(0x80, 0x80, 0x80) : text);
        p.setColor(group, QPalette::Base, base);
        p.setColor(group, QPalette::AlternateBase, window);
        p.setColor(group, QPalette::Text, disabled ? QColor(0x80, 0x80, 0x80) : text);
        p.setColor(group, QPalette::Button, QColor(0x3a, 0x3a, 0x3d));
        p.setColor(group, QPalette::ButtonText, disabled ? QColor(0x80, 0x80, 0x80) : text);
        p.setColor(group, QPalette::Light, QColor(0x5a, 0x5a, 0x5e));
        p.setColor(group, QPalette::Midlight, QColor(0x48, 0x48, 0x4c));
        p.setColor(group, QPalette::Mid, QColor(0x28, 0x28, 0x2a));
        p.setColor(group, QPalette::Dark, QColor(0x18, 0x18, 0x1a));
        p.setColor(group, QPalette::Shadow, Qt::black);
        p.setColor(group, QPalette::Highlight, QColor(0x26, 0x4f, 0x78));
        p.setColor(group, QPalette::HighlightedText, Qt::white);
        p.setColor(group, QPalette::Link, QColor(0x6c, 0xb4, 0xff));
        p.setColor(group, QPalette::ToolTipBase, window);
        p.setColor(group, QPalette::ToolTipText, text);
    }
    return p;
}

QStringList Write(const QString& dir) {
    QTemporaryDir sandbox;
    if (!sandbox.isValid()) throw std::runtime_error("Cannot create a temporary folder.");
    const Borrowed registry("MARVANE_REGISTRY_DIR", sandbox.filePath("registry"));
    const Borrowed program("MARVANE_PROGRAM_DIR", sandbox.path());
    const QuietBoxes quiet;

    QDir().mkpath(sandbox.filePath("backups"));
    QFile list(sandbox.filePath("data.mvo"));
    if (!list.open(QIODevice::WriteOnly)) throw std::runtime_error("Cannot create file data.mvo.");
    list.write("/home/anna/Documents/\r\n/home/anna/Pictures/Holidays 2025/\r\n/srv/projects/website/\r\n");
    list.close();

    QStringList written;
    QDir().mkpath(dir);
    const QDir out(dir);
    // The main window once more on a dark desktop: every colour the design leaves open follows it.
    {
        const Palette dark(DarkPalette());
        TApplicationWindows windows = CreateWindows({});
        TForm1& form = *windows.Form1;
        form.KwReg1.Push("DestDir", sandbox.filePath("backups").toStdString() + "/");
        save(grabShown(form), out.filePath("form1-dark.png"), written);
        form.SetRunning(true);
        form.Edit2->setText("holidays 2025.zip");
        form.ProgressBar1->SetMax(3);
        form.ProgressBar1->SetPosition(1);
        form.ProgressBar2->SetPosition(42);
        save(grabShown(form), out.filePath("form1-dark-running.png"), written);
        form.SetRunning(false);
        form.hide();
    }
    {
        TApplicationWindows windows = CreateWindows({});
        TForm1& form = *windows.Form1;
        form.KwReg1.Push("DestDir", sandbox.filePath("backups").toStdString() + "/");
        form.KwReg1.Push("DeleteFiles", "0");
        form.KwReg1.Push("AutoName", "1");
        save(grabShown(form), out.filePath("form1.png"), written);

        form.SetRunning(true);
        form.SetItemChecked(0, false);
        form.Edit2->setText("holidays 2025.zip");
        form.ProgressBar1->SetMax(3);
        form.ProgressBar1->SetPosition(2);
        form.ProgressBar1->SetTextColor(Qt::white);
        form.ProgressBar2->SetPosition(42);
        save(grabShown(form), out.filePath("form1-running.png"), written);
        form.SetRunning(false);

        form.resize(760, 520);
        save(grabShown(form), out.filePath("form1-wide.png"), written);
        form.hide();

        TForm2& form2 = *windows.Form2;
        save(grabShown(form2, [&] { form2.Edit1->setText("secret"); }), out.filePath("form2.png"), written);
        form2.hide();
        TForm3& form3 = *windows.Form3;
        form3.SecondsLeft = 60;
        const QImage countdown = grabShown(form3, [&] {
            form3.CountDownTimer->stop();
            form3.SecondsLeft = 37;
            form3.UpdateCountdown();
        });
        save(countdown, out.filePath("form3.png"), written);
        form3.hide();
    }

    QImage icons(16 + 32 + 48 + 128 + 5 * 8, 128 + 16, QImage::Format_ARGB32_Premultiplied);
    icons.fill(Qt::white);
    {
        QPainter p(&icons);
        int x = 8;
        for (int size : {16, 32, 48, 128}) {
            p.drawPixmap(x, 8, pictures::ProgramPixmap(size));
            x += size + 8;
        }
    }
    save(icons, out.filePath("icon.png"), written);
    return written;
}

}  // namespace screenshots
