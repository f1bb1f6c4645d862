// Renders each window to PNG files, with sample content and private settings, for reviewing the layout.
#pragma once

#include <QPalette>
#include <QString>
#include <QStringList>

namespace screenshots {

// A dark desktop palette, as a dark desktop theme gives it.
QPalette DarkPalette();

// Writes form1.png (idle), form1-running.png, form1-wide.png, form1-dark.png and
// form1-dark-running.png (on DarkPalette), form2.png, form3.png and icon.png into dir (the progress bar's styles come from folvio-gallery --progress). The windows read and write a private registry
// and program folder, never the user's. Returns the files written; throws std::runtime_error
// when one cannot be written.
QStringList Write(const QString& dir);

}  // namespace screenshots
