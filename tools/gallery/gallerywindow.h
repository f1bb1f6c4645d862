// The gallery's window: one page per component, each showing it at work.
#pragma once

#include <QMainWindow>
#include <QString>

class QTabWidget;

class GalleryWindow : public QMainWindow {
    Q_OBJECT

public:
    // initialPage: a local HTML file the web page tab opens at once (may be empty).
    explicit GalleryWindow(const QString& initialPage = QString(), QWidget* parent = nullptr);
    // Brings the page with that index to the front.
    void showPage(int index);
    int pageCount() const;

private:
    QTabWidget* tabs_;
};
