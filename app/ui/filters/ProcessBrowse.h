// "参照...": a file dialog to pick the program a filter is bound to. A process is
// known by its executable's file name, so only the name is kept, without its folder.
#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace tavrin::ui {

inline constexpr char kExecutablesFilter[] = "実行ファイル (*)";
inline constexpr char kAllFilesFilter[] = "全てのファイル (*)";
inline constexpr char kProgramFolder[] = "/usr/bin";

// Opens the dialog in `folder`, showing executable files first; the chosen file's
// name, or nothing when cancelled.
std::optional<QString> browseProcessName(QWidget* parent,
                                         const QString& folder = QString::fromUtf8(kProgramFolder));

} // namespace tavrin::ui
