#include "components/kwbrfolder.h"

#include "platform/filesystem.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>


std::string TKwBrFolder::Execute(const std::string& initial, const std::string& title, QWidget* owner) {
    if (Chooser) return Chooser(initial, title, owner);

    // Qt's own dialog, so the initial folder can be shown selected on every desktop.
    QFileDialog dialog(owner, QString::fromStdString(title));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (platform::DirectoryExists(initial)) {
        const QString folder = QDir::cleanPath(QFileInfo(QFile::decodeName(initial.c_str())).absoluteFilePath());
        const QFileInfo cleaned(folder);
        if (cleaned.isRoot()) {
            dialog.setDirectory(folder);
        } else {
            dialog.setDirectory(cleaned.absolutePath());
            dialog.selectFile(cleaned.fileName());
        }
    } else {
        dialog.setDirectory(QDir::home());
    }
    if (dialog.exec() != QDialog::Accepted) return "";
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return "";
    return QFile::encodeName(QDir::cleanPath(chosen.first())).toStdString();
}
