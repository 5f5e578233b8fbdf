// The external command page: the command list with its editor, and the run of one
// command at a time, its output streaming into the page, with an abort.
#pragma once

#include "CommandRunner.h"
#include "PageContext.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <string>

class QAction;

namespace Ui {
class CTabExternalCommand;
}

namespace tavrin::ui {

class CommandListModel;

class CTabExternalCommand final : public QWidget {
    Q_OBJECT
public:
    // Lines the output box keeps; the oldest go first. With the decoder's line
    // limit this bounds the text however much a command writes.
    static constexpr int kMaxOutputLines = 5000;

    CTabExternalCommand(PageContext context, QWidget* parent = nullptr);
    ~CTabExternalCommand() override;

    // Runs `commandLine`, asking its open placeholders first.
    void run(const std::string& commandLine);
    // The program is ending: a running command is stopped before this returns.
    void closeAtExit();

    bool running() const { return m_runner.busy(); }
    Ui::CTabExternalCommand& form() const { return *m_form; }
    QAction* newAction() const { return m_new; }
    QAction* editAction() const { return m_edit; }
    QAction* deleteAction() const { return m_delete; }
    QAction* runAction() const { return m_run; }
    QAction* abortAction() const { return m_abort; }

signals:
    // A run is over and its output is all in the box.
    void runEnded();

private:
    void createActions();
    void updateCommands();
    std::optional<size_t> selectedRow() const;
    void select(size_t row);
    void newCommand();
    void editCommand();
    void deleteCommand();
    void takeOutput();
    void append(const QString& text);

    PageContext m_context;
    std::unique_ptr<Ui::CTabExternalCommand> m_form;
    CommandListModel* m_model = nullptr;
    QAction* m_new = nullptr;
    QAction* m_edit = nullptr;
    QAction* m_delete = nullptr;
    QAction* m_run = nullptr;
    QAction* m_abort = nullptr;
    bool m_closing = false;
    commands::CommandRunner m_runner; // last: its worker reaches into the page
};

} // namespace tavrin::ui
