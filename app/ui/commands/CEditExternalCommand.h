// The command editor "外部コマンド編集": edits a copy of one command. The target's
// radio buttons can be chosen only while the command is listed in a menu.
#pragma once

#include "ExternalCommand.h"

#include <QDialog>

#include <memory>

namespace Ui {
class CEditExternalCommand;
}

namespace tavrin {
class Messages;
}

namespace tavrin::ui {

inline constexpr char kCommaInName[] = "コマンド名に「,」は使えません。";
inline constexpr char kLineBreakInCommand[] = "コマンド名とコマンドラインに改行は使えません。";

class CEditExternalCommand final : public QDialog {
    Q_OBJECT
public:
    CEditExternalCommand(const commands::ExternalCommand& command, Messages& messages,
                         QWidget* parent = nullptr);
    ~CEditExternalCommand() override;

    // The edited command; what the fields hold once OK was accepted.
    const commands::ExternalCommand& command() const { return m_command; }
    Ui::CEditExternalCommand& form() const { return *m_form; }

    // OK: refuses a name that holds "," (and a text with a line break, which the
    // command file cannot hold), with its message; the dialog then stays open.
    void accept() override;

private:
    void applyMenuCheck();

    std::unique_ptr<Ui::CEditExternalCommand> m_form;
    Messages& m_messages;
    commands::ExternalCommand m_command;
};

} // namespace tavrin::ui
