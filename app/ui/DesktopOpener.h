// Opens the README and the project's web page the way the desktop opens files.
// Tavrin runs as root: when a desktop user started it through pkexec or sudo, the
// opener runs as that user, so that no browser or editor ever runs as root.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

namespace tavrin::ui {

inline constexpr char kReadMeMissing[] = "ReadMeが見つかりません。";

class DesktopOpener final : public QObject {
    Q_OBJECT
public:
    explicit DesktopOpener(QObject* parent = nullptr);

    // README.md (or Readme.txt) of the current folder, else the program's folder,
    // else the installed documentation. False (and nothing opened) when there is none.
    bool openReadMe();
    bool openHomePage();
    bool open(const QUrl& url);

    static QString readMePath();
    static QUrl homePage();

    // The program that opens a URL for the invoking user (xdg-open by default).
    void setLauncher(const QString& program) { m_launcher = program; }

signals:
    void opened(const QUrl& url);

private:
    QString m_launcher = QStringLiteral("xdg-open");
};

} // namespace tavrin::ui
