// The screenshot tour: Tavrin as it runs, with a real daemon, shown page by page
// and dialog by dialog, each written as a PNG for the README. Run by
// scripts/screenshots.sh under Xvfb: tavrin_screenshot_tour OUTPUT_DIR [Tavrin options].
#include "CTestDrvApp.h"
#include "CTestDrvDlg.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

using tavrin::ui::CTestDrvDlg;

struct Step {
    int waitMs; // before the step: time for the page to fill
    std::function<void()> run;
};

class Tour {
public:
    Tour(QString folder, CTestDrvDlg& dialog) : m_folder(std::move(folder)), m_dialog(dialog) {}

    void shoot(QWidget* widget, const QString& name) {
        const QString path = QDir(m_folder).filePath(name + QStringLiteral(".png"));
        if (!widget || !widget->grab().save(path)) {
            std::fprintf(stderr, "tour: could not write %s\n", qUtf8Printable(path));
            m_failed = true;
            return;
        }
        std::printf("%s\n", qUtf8Printable(path));
    }

    // The modal dialog that `open` opens, photographed and closed; `inside` may
    // photograph more of it first.
    void shootModal(const std::function<void()>& open, const QString& name,
                    std::function<void(QWidget*)> inside = {}) {
        QTimer::singleShot(800, &m_dialog, [this, name, inside] {
            QWidget* modal = QApplication::activeModalWidget();
            shoot(modal, name);
            if (modal && inside)
                inside(modal);
            if (modal)
                modal->close();
        });
        open();
    }

    void add(int waitMs, std::function<void()> run) { m_steps.push_back({waitMs, std::move(run)}); }

    void start() { next(0); }

    bool failed() const { return m_failed; }

private:
    void next(size_t i) {
        if (i >= m_steps.size()) {
            m_dialog.leaveUnattended();
            return;
        }
        QTimer::singleShot(m_steps[i].waitMs, &m_dialog, [this, i] {
            m_steps[i].run();
            next(i + 1);
        });
    }

    QString m_folder;
    CTestDrvDlg& m_dialog;
    std::vector<Step> m_steps;
    bool m_failed = false;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tavrin_screenshot_tour OUTPUT_DIR [Tavrin options]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    std::vector<char*> rest{argv[0]};
    for (int i = 2; i < argc; ++i)
        rest.push_back(argv[i]);
    rest.push_back(nullptr);

    Tour* tour = nullptr;
    const int status = tavrin::ui::CTestDrvApp::run(
        static_cast<int>(rest.size() - 1), rest.data(), [&tour, &folder](CTestDrvDlg& dialog) {
            tour = new Tour(folder, dialog);
            QTabWidget* tabs = dialog.tabs();
            // The first readings of the connection table and the bandwidth take a
            // few seconds.
            tour->add(3500, [tour, &dialog] { tour->shoot(&dialog, QStringLiteral("main")); });
            const char* names[] = {"tab-filters", "tab-dynamic-filters", "tab-connections",
                                   "tab-packets", "tab-commands"};
            for (int i = 0; i < tabs->count(); ++i) {
                tour->add(0, [tabs, i] { tabs->setCurrentIndex(i); });
                tour->add(1200, [tour, &dialog, name = QString::fromUtf8(names[i])] {
                    tour->shoot(&dialog, name);
                });
            }
            tour->add(0, [tabs] { tabs->setCurrentIndex(0); });
            tour->add(300, [tour, &dialog] {
                tour->shootModal([&dialog] { dialog.action(tavrin::ui::kCommandAbout)->trigger(); },
                                 QStringLiteral("about"));
            });
            tour->add(1500, [tour, &dialog] {
                tour->shootModal(
                    [&dialog] { dialog.action(tavrin::ui::kCommandOptions)->trigger(); },
                    QStringLiteral("options-general"),
                    [tour](QWidget* sheet) {
                        if (auto* pages = sheet->findChild<QTabWidget*>()) {
                            pages->setCurrentIndex(1);
                            tour->shoot(sheet, QStringLiteral("options-performance"));
                        }
                    });
            });
            tour->add(1500, [] {});
            tour->start();
        });
    const bool failed = tour == nullptr || tour->failed();
    delete tour;
    return failed ? 1 : status;
}
