// The signals that ask the program to end (SIGTERM, SIGINT, SIGHUP) as Qt signals
// on the window's thread. They are blocked for every thread and read from a
// signalfd, so no handler ever runs in the middle of the program's work.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace tavrin::ui {

class SignalWatcher final : public QObject {
    Q_OBJECT
public:
    // Blocks the signals for the calling thread and every thread it starts later:
    // call it first thing in main, before Qt starts any thread.
    static void blockLeaveSignals();

    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    bool valid() const { return m_fd >= 0; }

signals:
    void leaveRequested(int signal);

private:
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace tavrin::ui
