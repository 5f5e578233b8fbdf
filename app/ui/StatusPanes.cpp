#include "StatusPanes.h"

#include "BandwidthMonitor.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStatusBar>

namespace tavrin::ui {

PaneLabel::PaneLabel(QWidget* parent) : QLabel(parent) {
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    // The texts pad their figures with blanks: only a fixed pitch keeps them lined up.
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setTextInteractionFlags(Qt::NoTextInteraction);
}

void PaneLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

void PaneLabel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        emit clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

StatusPanes::StatusPanes(QStatusBar* bar) : QObject(bar), m_status(new QLabel(bar)) {
    m_status->setAccessibleName(QStringLiteral("状態"));
    bar->addWidget(m_status, 1);
    struct Pane {
        int id;
        const char* accessibleName;
        bool clickable;
    };
    for (const Pane& p :
         {Pane{core::kPaneTotal, "合計", false}, Pane{core::kPaneUp, "帯域 UP", true},
          Pane{core::kPaneDown, "帯域 DOWN", true}}) {
        auto* label = new PaneLabel(bar);
        label->setAccessibleName(QString::fromUtf8(p.accessibleName));
        if (p.clickable) {
            label->setFocusPolicy(Qt::TabFocus);
            connect(label, &PaneLabel::clicked, this, [this, id = p.id] { emit paneClicked(id); });
        }
        bar->addPermanentWidget(label);
        m_panes[p.id] = label;
    }
}

void StatusPanes::setPaneText(int pane, const QString& text) {
    if (QLabel* label = this->pane(pane))
        label->setText(text);
}

QString StatusPanes::paneText(int pane) const {
    QLabel* label = this->pane(pane);
    return label ? label->text() : QString();
}

QLabel* StatusPanes::pane(int pane) const {
    auto it = m_panes.find(pane);
    return it == m_panes.end() ? nullptr : it->second;
}

void StatusPanes::setStatusText(const QString& text) {
    m_status->setText(text);
}

QString StatusPanes::statusText() const {
    return m_status->text();
}

} // namespace tavrin::ui
