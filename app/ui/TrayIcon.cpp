#include "TrayIcon.h"

#include <QMenu>

namespace tavrin::ui {

TrayIcon::TrayIcon(const QIcon& icon, const QString& tip, QMenu* menu,
                   std::function<bool()> available, QObject* parent)
    : QObject(parent), m_icon(icon),
      m_available(available ? std::move(available)
                            : std::function<bool()>(&QSystemTrayIcon::isSystemTrayAvailable)) {
    m_icon.setToolTip(tip);
    m_icon.setContextMenu(menu);
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    emit leftClicked();
            });
    m_trayAvailable = m_available();
    m_poll.setInterval(2000);
    connect(&m_poll, &QTimer::timeout, this, &TrayIcon::poll);
    m_poll.start();
}

void TrayIcon::add() {
    if (m_exists)
        return;
    m_exists = true;
    m_icon.show();
}

void TrayIcon::remove() {
    if (!m_exists)
        return;
    m_exists = false;
    m_icon.hide();
}

void TrayIcon::poll() {
    const bool available = m_available();
    if (available == m_trayAvailable)
        return;
    m_trayAvailable = available;
    if (!m_exists)
        return;
    if (available) {
        // The icon counts as gone with the old tray and is put into the new one.
        m_exists = false;
        m_icon.hide();
        add();
    } else {
        emit trayLost();
    }
}

} // namespace tavrin::ui
