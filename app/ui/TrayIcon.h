// The task tray icon with the main dialog's rules: added only when it does not
// exist, removed only when it does, and added again when a tray appears after the
// one it sat in went away (a panel restarted). Qt gives no signal for a tray that
// comes or goes, so its presence is looked at every two seconds.
#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>

class QMenu;

namespace tavrin::ui {

class TrayIcon final : public QObject {
    Q_OBJECT
public:
    // `available` tells whether a system tray is there (the system's answer when
    // empty).
    TrayIcon(const QIcon& icon, const QString& tip, QMenu* menu,
             std::function<bool()> available = {}, QObject* parent = nullptr);

    void add();
    void remove();
    // The tray-icon flag: the icon was added and not removed.
    bool exists() const { return m_exists; }
    // The icon exists and a tray shows it: a window hidden now can be brought back.
    bool shown() const { return m_exists && m_trayAvailable; }

    // Looks at the tray once (the timer does it every two seconds).
    void poll();

signals:
    void leftClicked();
    // The tray went away while the icon existed: nothing shows the icon now.
    void trayLost();

private:
    QSystemTrayIcon m_icon;
    QTimer m_poll;
    std::function<bool()> m_available;
    bool m_exists = false;
    bool m_trayAvailable = false;
};

} // namespace tavrin::ui
