// TKwHTML's link opener: the part of the page component that hands an address to the desktop.
#include "components/kwhtml.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

void TKwHTML::CallExternUrl(const std::string& address) const {
    // A bare path becomes a file address, "www.example.org" a web one.
    QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(address)));
}
