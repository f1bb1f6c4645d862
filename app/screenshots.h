// Renders each window and the progress bar's styles to PNG files, with sample content and private settings, for reviewing the layout.
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

namespace screenshots {

// The five bar styles, horizontal and vertical, at several positions with their texts.
QImage ProgressBarStyles();

// Writes form1.png (idle), form1-running.png, form1-wide.png, form2.png, form3.png,
// progressbar-styles.png and icon.png into dir. The windows read and write a private registry
// and program folder, never the user's. Returns the files written; throws std::runtime_error
// when one cannot be written.
QStringList Write(const QString& dir);

}  // namespace screenshots
