#include "ProcessBrowse.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace tavrin::ui {

std::optional<QString> browseProcessName(QWidget* parent, const QString& folder) {
    QFileDialog dialog(parent, QStringLiteral("開く"), folder);
    // Qt's own dialog: a desktop's portal dialog would run outside this root
    // program's session, and only Qt's can list executables alone.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QString executables = QString::fromUtf8(kExecutablesFilter);
    dialog.setNameFilters({executables, QString::fromUtf8(kAllFilesFilter)});
    auto apply = [&dialog, executables](const QString& filter) {
        QDir::Filters shown = QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot;
        if (filter == executables)
            shown |= QDir::Executable;
        dialog.setFilter(shown);
    };
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, apply);
    dialog.selectNameFilter(executables);
    apply(executables);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QFileInfo(dialog.selectedFiles().constFirst()).fileName();
}

} // namespace tavrin::ui
