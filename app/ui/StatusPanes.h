// The main window's status bar: the three panes " TOTAL ", UP and DOWN on the
// right, and on the left a line for what the program has to say about its daemon.
// UP and DOWN can be clicked.
#pragma once

#include <QLabel>
#include <QObject>

#include <map>

class QStatusBar;

namespace tavrin::ui {

class PaneLabel final : public QLabel {
    Q_OBJECT
public:
    explicit PaneLabel(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

class StatusPanes final : public QObject {
    Q_OBJECT
public:
    explicit StatusPanes(QStatusBar* bar);

    // Pane ids: 106 TOTAL, 104 UP, 105 DOWN. Other ids are ignored.
    void setPaneText(int pane, const QString& text);
    QString paneText(int pane) const;
    QLabel* pane(int pane) const;
    void setStatusText(const QString& text);
    QString statusText() const;

signals:
    void paneClicked(int pane);

private:
    std::map<int, PaneLabel*> m_panes;
    QLabel* m_status;
};

} // namespace tavrin::ui
