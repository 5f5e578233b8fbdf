#include "CTabExternalCommand.h"

#include "ActionButton.h"
#include "CEditExternalCommand.h"
#include "CInputUserArgDlg.h"
#include "CommandListModel.h"
#include "ExternalCommandIni.h"
#include "Messages.h"
#include "Placeholders.h"
#include "TextConversion.h"
#include "ui_CTabExternalCommand.h"

#include <QAction>
#include <QFontDatabase>
#include <QMenu>
#include <QScrollBar>
#include <QTextCursor>

namespace tavrin::ui {

CTabExternalCommand::CTabExternalCommand(PageContext context, QWidget* parent)
    : QWidget(parent), m_context(context), m_form(new Ui::CTabExternalCommand), m_runner([this] {
          // On the worker's thread: the page takes the output on its own.
          QMetaObject::invokeMethod(
              this, [this] { takeOutput(); }, Qt::QueuedConnection);
      }) {
    setObjectName(QStringLiteral("page173"));
    m_form->setupUi(this);
    m_model = new CommandListModel(m_context.commands, this);
    m_form->list->setModel(m_model);
    m_form->list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_form->list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_form->output->setMaximumBlockCount(kMaxOutputLines);
    m_form->output->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    createActions();

    connect(m_form->list->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (const auto row = selectedRow())
            m_form->commandLine->setText(qs(m_context.commands.records()[*row].commandLine));
        updateCommands();
    });
    // A double-click runs what the edit box holds, as "実行" does, also to be told
    // that a command is still running.
    connect(m_form->list, &QAbstractItemView::doubleClicked, this,
            [this] { run(toUtf8(m_form->commandLine->text())); });
    connect(m_form->list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        menu.addAction(m_new);
        menu.addAction(m_edit);
        menu.addAction(m_delete);
        menu.addSeparator();
        menu.addAction(m_run);
        menu.exec(m_form->list->viewport()->mapToGlobal(at));
    });
    updateCommands();
}

CTabExternalCommand::~CTabExternalCommand() {
    m_runner.stop();
}

void CTabExternalCommand::createActions() {
    const auto make = [this](const char* text, void (CTabExternalCommand::*slot)(),
                             QPushButton* button) {
        auto* action = new QAction(QString::fromUtf8(text), this);
        connect(action, &QAction::triggered, this, slot);
        bindButton(button, action);
        return action;
    };
    m_new = make("新規作成...", &CTabExternalCommand::newCommand, m_form->newButton);
    m_edit = make("編集...", &CTabExternalCommand::editCommand, m_form->editButton);
    m_delete = make("削除", &CTabExternalCommand::deleteCommand, m_form->deleteButton);
    m_run = new QAction(QStringLiteral("実行"), this);
    connect(m_run, &QAction::triggered, this, [this] { run(toUtf8(m_form->commandLine->text())); });
    bindButton(m_form->runButton, m_run);
    m_abort = new QAction(QStringLiteral("中止"), this);
    connect(m_abort, &QAction::triggered, this, [this] { m_runner.abort(); });
    bindButton(m_form->abortButton, m_abort);
}

void CTabExternalCommand::updateCommands() {
    const bool selected = selectedRow().has_value();
    m_edit->setEnabled(selected);
    m_delete->setEnabled(selected);
    m_run->setEnabled(!m_runner.busy() && !m_closing);
    m_abort->setEnabled(m_runner.busy() && !m_closing);
}

std::optional<size_t> CTabExternalCommand::selectedRow() const {
    const QModelIndexList rows = m_form->list->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    const auto row = static_cast<size_t>(rows.front().row());
    if (row >= m_context.commands.records().size())
        return std::nullopt;
    return row;
}

void CTabExternalCommand::select(size_t row) {
    const QModelIndex index = m_model->index(static_cast<int>(row), 0);
    m_form->list->setCurrentIndex(index);
    m_form->list->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
}

void CTabExternalCommand::newCommand() {
    CEditExternalCommand editor(commands::ExternalCommand{}, m_context.messages, this);
    if (editor.exec() != QDialog::Accepted)
        return;
    m_context.commands.add(editor.command());
    m_model->refill();
    updateCommands();
}

void CTabExternalCommand::editCommand() {
    const auto row = selectedRow();
    if (!row)
        return;
    CEditExternalCommand editor(m_context.commands.records()[*row], m_context.messages, this);
    if (editor.exec() != QDialog::Accepted)
        return;
    m_context.commands.replace(*row, editor.command());
    m_model->refill();
    select(*row);
    m_form->commandLine->setText(qs(m_context.commands.records()[*row].commandLine));
    updateCommands();
}

void CTabExternalCommand::deleteCommand() {
    const auto row = selectedRow();
    if (!row)
        return;
    m_context.commands.remove(*row);
    m_model->refill();
    updateCommands();
}

void CTabExternalCommand::run(const std::string& commandLine) {
    if (m_closing)
        return;
    if (m_runner.busy()) {
        m_context.messages.show(commands::kAlreadyRunning);
        return;
    }
    commands::CommandExpansion expansion(commandLine);
    commands::CommandExpansion::Question question;
    while (expansion.next(question)) {
        CInputUserArgDlg dialog(qs(question.prompt), this);
        if (dialog.exec() != QDialog::Accepted || m_closing)
            return;
        expansion.answer(toUtf8(dialog.answer()));
    }
    // Another run may have been asked for while a question was open.
    if (m_runner.busy()) {
        m_context.messages.show(commands::kAlreadyRunning);
        return;
    }
    const std::string line = expansion.line();
    m_form->output->setPlainText(qs(">" + line + "\n"));
    m_runner.start(line);
    updateCommands();
}

void CTabExternalCommand::takeOutput() {
    const commands::RunUpdate update = m_runner.take();
    if (!update.text.empty())
        append(qs(update.text));
    if (!update.ended || m_closing)
        return;
    // A command that ended by itself shows its output from the top.
    if (update.completed) {
        m_form->output->moveCursor(QTextCursor::Start);
        m_form->output->ensureCursorVisible();
        m_form->output->horizontalScrollBar()->setValue(0);
    }
    updateCommands();
    emit runEnded();
}

void CTabExternalCommand::append(const QString& text) {
    // The output follows its end unless the user scrolled away to read; the user's
    // caret and selection stay where they are.
    QScrollBar* bar = m_form->output->verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    QTextCursor end(m_form->output->document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    if (following)
        bar->setValue(bar->maximum());
}

void CTabExternalCommand::closeAtExit() {
    m_closing = true;
    m_runner.stop();
    // What the command wrote while it was being stopped still goes into the box.
    const commands::RunUpdate update = m_runner.take();
    if (!update.text.empty())
        append(qs(update.text));
}

} // namespace tavrin::ui
