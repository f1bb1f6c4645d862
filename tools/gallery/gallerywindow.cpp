#include "gallerywindow.h"

#include "galleryrender.h"
#include "components/kwdigianz.h"
#include "components/kwhtml.h"
#include "components/kwhtmlfile.h"
#include "components/kwmidi.h"
#include "components/kwparser.h"
#include "components/kwregister.h"
#include "controls/gradientprogressbar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <stdexcept>
#include <vector>

namespace {

void fill(QListWidget* list, const std::vector<std::string>& items) {
    list->clear();
    for (const auto& item : items) list->addItem(QString::fromStdString(item));
}

// Expressions typed by the user, evaluated at an x and plotted with grid, cross and colours.
QWidget* plotterPage() {
    auto* page = new QWidget;
    auto* expressions = new QPlainTextEdit(gallery::PlotOptions().expressions.join('\n'));
    auto* x = new QLineEdit("1");
    auto* results = new QPlainTextEdit;
    results->setReadOnly(true);
    auto* grid = new QCheckBox("Grid");
    grid->setChecked(true);
    auto* lines = new QCheckBox("Join samples with lines");
    lines->setChecked(true);
    auto* step = new QLineEdit;
    step->setPlaceholderText("every pixel column");
    auto* maxDifference = new QDoubleSpinBox;
    maxDifference->setRange(0, 1e6);
    maxDifference->setValue(10);
    auto* status = new QLabel;
    auto* plot = new QLabel;
    plot->setFixedSize(640, 480);

    auto update = [=] {
        gallery::PlotOptions options;
        options.expressions = expressions->toPlainText().split('\n', Qt::SkipEmptyParts);
        options.grid = grid->isChecked();
        options.lines = lines->isChecked();
        options.step = step->text();
        options.maxDifference = maxDifference->value();
        const auto result = gallery::renderPlot(options);
        plot->setPixmap(QPixmap::fromImage(result.image));
        status->setText(result.failedLine > 0 ? QString("Line %1 could not be parsed").arg(result.failedLine)
                                              : QString("All expressions parsed"));
        QString text;
        for (int i = 0; i < options.expressions.size(); ++i) {
            TKwParser parser;
            parser.Expression = options.expressions[i].toStdString();
            parser.X = x->text().toStdString();
            text += options.expressions[i] + " = ";
            if (!parser.CreateTree()) {
                text += "(not an expression)\n";
                continue;
            }
            try {
                parser.Evaluate();
                text += QString::fromStdString(parser.ErgebnisString()) + "   [" +
                        QString::fromStdString(parser.Expression) + ", colour " + gallery::plotColor(i) + "]\n";
            } catch (const std::runtime_error& e) {
                text += QString::fromUtf8(e.what()) + "\n";
            }
        }
        results->setPlainText(text);
    };
    QObject::connect(expressions, &QPlainTextEdit::textChanged, page, update);
    QObject::connect(x, &QLineEdit::textChanged, page, update);
    QObject::connect(grid, &QCheckBox::toggled, page, update);
    QObject::connect(lines, &QCheckBox::toggled, page, update);
    QObject::connect(step, &QLineEdit::textChanged, page, update);
    QObject::connect(maxDifference, &QDoubleSpinBox::valueChanged, page, update);

    auto* form = new QFormLayout;
    form->addRow("Expressions (one per line, in x)", expressions);
    form->addRow("x =", x);
    form->addRow("Values", results);
    form->addRow("Step", step);
    form->addRow("Y_MaxDifference", maxDifference);
    form->addRow(grid);
    form->addRow(lines);
    form->addRow(status);
    auto* layout = new QHBoxLayout(page);
    layout->addLayout(form, 1);
    layout->addWidget(plot, 0, Qt::AlignTop);
    update();
    return page;
}

// The dot-matrix display showing a percentage.
QWidget* displayPage() {
    auto* page = new QWidget;
    auto* display = new TKwDigianz;
    display->setFixedSize(368, 140);  // 23 cells of 16 pixels
    display->Repaint();
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, 100);
    slider->setValue(100);
    QObject::connect(slider, &QSlider::valueChanged, display, [display](int v) {
        display->setText(QString("%1%").arg(v));
    });
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel("TKwDigianz: drag the slider to change the percentage"));
    layout->addWidget(display, 0, Qt::AlignLeft);
    layout->addWidget(slider);
    layout->addStretch();
    return page;
}

// The gradient progress bar in its five styles, horizontal and vertical, moved by a slider.
QWidget* progressPage() {
    auto* page = new QWidget;
    QList<TGradientProgressBar*> bars;
    QWidget* sheet = gallery::createProgressSheet({40}, &bars);
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, 120);
    slider->setValue(40);
    QObject::connect(slider, &QSlider::valueChanged, page, [bars](int v) {
        for (TGradientProgressBar* bar : bars) {
            bar->SetPosition(v);
            gallery::colourText(bar);
        }
    });
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel("TGradientProgressBar: drag the slider to move every bar (beyond 100 the bars stay full)"));
    layout->addWidget(sheet, 0, Qt::AlignLeft);
    layout->addWidget(slider);
    layout->addStretch();
    return page;
}

// A melody entered as note groups ("notes length velocity" per line) saved as a MIDI file.
QWidget* midiPage() {
    auto* page = new QWidget;
    auto* melody = new QPlainTextEdit("60 4 100\n62 8 90\n64 8 90\n65,69,72 2 110\n67 T4 80\n67 T4 80\n67 T4 80\n60,64,67 1 100");
    auto* details = new QPlainTextEdit;
    details->setReadOnly(true);
    auto* instruments = new QComboBox;
    std::vector<std::string> names;
    TKwMidi::FillInstrumentList(names);
    for (const auto& name : names) instruments->addItem(QString::fromStdString(name));
    auto* instrumentNumber = new QLabel;
    auto* save = new QPushButton("Save as MIDI file...");
    auto* status = new QLabel;

    // Refills the program-wide note store from the text; returns false for a line without three fields.
    auto load = [=](QString* error) {
        TKwMidi midi;
        midi.ClearNotes();
        const QStringList lines = melody->toPlainText().split('\n', Qt::SkipEmptyParts);
        for (const QString& line : lines) {
            const QStringList f = line.split(' ', Qt::SkipEmptyParts);
            if (f.size() != 3) {
                *error = "Not \"notes length velocity\": " + line;
                return false;
            }
            midi.AddNote(f[0].toStdString(), f[1].toStdString(), f[2].toStdString());
        }
        return true;
    };
    auto describe = [=] {
        QString error;
        if (!load(&error)) {
            details->setPlainText(error);
            return;
        }
        QString text;
        const TKwMidi midi;
        for (size_t i = 0; i < midi.Notes().size(); ++i) {
            std::vector<std::string> keys;
            TKwMidi::ExtractNotes(midi.Notes()[i], keys);
            const int first = keys.empty() ? -1 : std::atoi(keys[0].c_str());
            text += QString("%1   %2 s at 120 bpm   first note: octave %3, %4 Hz\n")
                        .arg(QString::fromStdString(midi.Notes()[i]))
                        .arg(QString::fromStdString(TKwMidi::LongToStr(TKwMidi::GetSekundenOfLength(midi.Lengths()[i], 2))))
                        .arg(TKwMidi::GetOctave(first))
                        .arg(QString::fromStdString(TKwMidi::GetHz(first)));
        }
        text += QString("Note track: %1 bytes").arg(midi.CountBytes());
        details->setPlainText(text);
    };
    QObject::connect(melody, &QPlainTextEdit::textChanged, page, describe);
    QObject::connect(instruments, &QComboBox::currentTextChanged, page, [=](const QString& name) {
        instrumentNumber->setText(QString("program number %1").arg(TKwMidi::GetHexInstrument(name.toStdString())));
    });
    QObject::connect(save, &QPushButton::clicked, page, [=] {
        QString error;
        if (!load(&error)) {
            status->setText(error);
            return;
        }
        const QString file = QFileDialog::getSaveFileName(page, "Save melody", "melody.mid", "MIDI files (*.mid)");
        if (file.isEmpty()) return;
        try {
            status->setText(TKwMidi().WriteMidiFile(file.toStdString()) ? "Saved " + file : "Cannot write " + file);
        } catch (const std::invalid_argument& e) {
            status->setText(QString::fromStdString(e.what()));
        }
    });

    auto* form = new QFormLayout(page);
    form->addRow("Melody (notes length velocity)", melody);
    form->addRow("Note groups", details);
    form->addRow("Instruments", instruments);
    form->addRow("", instrumentNumber);
    form->addRow(save, status);
    describe();
    instrumentNumber->setText("program number 0");
    return page;
}

// A local HTML file's title, links, images and input values.
QWidget* webPage(const QString& initialPage) {
    auto* page = new QWidget;
    auto* browser = new kwhtml::FileBrowser;  // lives as long as the page
    QObject::connect(page, &QObject::destroyed, [browser] { delete browser; });
    auto* path = new QLineEdit;
    auto* open = new QPushButton("Open...");
    auto* title = new QLabel;
    auto* links = new QListWidget;
    auto* images = new QListWidget;
    auto* values = new QListWidget;

    auto load = [=] {
        TKwHTML html;
        html.Browser = browser;
        html.ProcessMessages = [] { QCoreApplication::processEvents(); };
        html.BrowseTo(path->text().toStdString());
        title->setText(browser->HasDocument() ? QString::fromStdString(html.GetTitel()) : "(no document)");
        std::vector<std::string> found;
        html.GetAllLinks(found);
        fill(links, found);
        found.clear();
        html.GetAllImages(found);
        fill(images, found);
        found.clear();
        html.GetAllVar(found, "<INPUT ", "value=\"", "\"");
        fill(values, found);
    };
    QObject::connect(path, &QLineEdit::returnPressed, page, load);
    QObject::connect(open, &QPushButton::clicked, page, [=] {
        const QString file = QFileDialog::getOpenFileName(page, "Open page", QString(), "HTML files (*.html *.htm)");
        if (file.isEmpty()) return;
        path->setText(file);
        load();
    });

    auto* row = new QHBoxLayout;
    row->addWidget(path, 1);
    row->addWidget(open);
    auto* form = new QFormLayout(page);
    form->addRow("Local file or file:// address", row);
    form->addRow("Title", title);
    form->addRow("Links", links);
    form->addRow("Images", images);
    form->addRow("Input values", values);
    if (!initialPage.isEmpty()) {
        path->setText(initialPage);
        load();
    }
    return page;
}

QWidget* componentsPage() {
    auto* tree = new QTreeWidget;
    tree->setHeaderLabels({"Component", "Purpose"});
    auto* page = new QTreeWidgetItem(tree, {"Marvane"});
    for (const auto& c : kwregister::Components())
        if (c.Page == "Marvane")
            new QTreeWidgetItem(page, {QString::fromUtf8(c.Name.data(), static_cast<int>(c.Name.size())),
                                       QString::fromUtf8(c.Purpose.data(), static_cast<int>(c.Purpose.size()))});
    tree->expandAll();
    tree->resizeColumnToContents(0);
    return tree;
}

}  // namespace

GalleryWindow::GalleryWindow(const QString& initialPage, QWidget* parent)
    : QMainWindow(parent), tabs_(new QTabWidget) {
    setWindowTitle("Marvane component gallery");
    tabs_->addTab(plotterPage(), "Parser and plotter");
    tabs_->addTab(displayPage(), "Dot-matrix display");
    tabs_->addTab(progressPage(), "Progress bar");
    tabs_->addTab(midiPage(), "MIDI writer");
    tabs_->addTab(webPage(initialPage), "Web page");
    tabs_->addTab(componentsPage(), "Components");
    setCentralWidget(tabs_);
}

void GalleryWindow::showPage(int index) { tabs_->setCurrentIndex(index); }

int GalleryWindow::pageCount() const { return tabs_->count(); }
