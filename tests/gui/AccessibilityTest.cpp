// What a screen reader says for each control of every window: the name Qt's
// accessibility layer gives it (its own text, its accessible name, or the text of a
// label beside it whose buddy it is). A field without one is read as "edit" or
// "table" and nothing else. Every page of every tab is looked at.
#include "AdapterList.h"
#include "BandwidthLog.h"
#include "CAboutDlg.h"
#include "CAddFilterDlg.h"
#include "CBandwidthGraphDlg.h"
#include "CEditDynamicFilterDlg.h"
#include "CEditExternalCommand.h"
#include "CInputUserArgDlg.h"
#include "COptionSheet.h"
#include "CoreHarness.h"
#include "GuiHarness.h"
#include "IniFileObject.h"
#include "RecordingMessages.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>

#include <functional>
#include <memory>
#include <set>

namespace tavrin::ui::test {

namespace {

// The parts of a composite control (the edit box of a spin field or a combo box, the
// list of a combo box's popup, a tab bar's scroll arrows) are read as the control.
bool partOfAnother(const QWidget* w) {
    for (const QWidget* p = w->parentWidget(); p != nullptr; p = p->parentWidget()) {
        if (qobject_cast<const QAbstractSpinBox*>(p) || qobject_cast<const QComboBox*>(p) ||
            qobject_cast<const QTabBar*>(p))
            return true;
    }
    return false;
}

bool needsName(const QWidget* w) {
    // A table's header is read with the table, its scroll bars by their role.
    if (partOfAnother(w) || qobject_cast<const QScrollBar*>(w) ||
        qobject_cast<const QHeaderView*>(w))
        return false;
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractItemView*>(w) ||
           qobject_cast<const QPlainTextEdit*>(w) || qobject_cast<const QTextEdit*>(w) ||
           qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QAbstractSlider*>(w);
}

QString spokenName(QWidget* w) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(w);
    return face == nullptr ? QString() : face->text(QAccessible::Name).trimmed();
}

// Where a control sits, for the message: its own and its parents' object names.
QString placeOf(const QWidget* w) {
    QStringList parts;
    for (const QWidget* p = w; p != nullptr; p = p->parentWidget())
        parts.prepend(p->objectName().isEmpty() ? QString::fromLatin1(p->metaObject()->className())
                                                : p->objectName());
    return parts.join(QLatin1Char('/'));
}

// The controls of `top` that show now without a name; then the same for every page
// of every tab control, each brought to the front in turn.
void collectNameless(QWidget* top, std::set<QString>& nameless, int depth = 0) {
    QCoreApplication::processEvents();
    for (QWidget* w : top->findChildren<QWidget*>()) {
        if (w->isVisibleTo(top) && needsName(w) && spokenName(w).isEmpty())
            nameless.insert(placeOf(w));
    }
    if (depth > 3)
        return;
    for (QTabWidget* tabs : top->findChildren<QTabWidget*>()) {
        if (!tabs->isVisibleTo(top))
            continue;
        const int was = tabs->currentIndex();
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            collectNameless(tabs->currentWidget(), nameless, depth + 1);
        }
        tabs->setCurrentIndex(was);
    }
}

} // namespace

using WindowMaker = std::function<std::unique_ptr<QWidget>(GuiHarness&)>;

} // namespace tavrin::ui::test

Q_DECLARE_METATYPE(tavrin::ui::test::WindowMaker)

namespace tavrin::ui::test {

class AccessibilityTest final : public QObject {
    Q_OBJECT

private slots:
    void everyControlHasAName_data();
    void everyControlHasAName();
};

void AccessibilityTest::everyControlHasAName_data() {
    QTest::addColumn<WindowMaker>("make");
    // The main window is the harness's own; the others are made over its core.
    QTest::newRow("main window") << WindowMaker{};
    QTest::newRow("about") << WindowMaker{
        [](GuiHarness&) -> std::unique_ptr<QWidget> { return std::make_unique<CAboutDlg>(); }};
    QTest::newRow("options") << WindowMaker{[](GuiHarness& gui) -> std::unique_ptr<QWidget> {
        static settings::IniFileObject edited;
        return std::make_unique<COptionSheet>(edited, true, gui.core.m_messages);
    }};
    QTest::newRow("filter") << WindowMaker{[](GuiHarness& gui) -> std::unique_ptr<QWidget> {
        return std::make_unique<CAddFilterDlg>(gui.core.m_adapters, gui.core.m_messages);
    }};
    QTest::newRow("dynamic filter") << WindowMaker{[](GuiHarness& gui) -> std::unique_ptr<QWidget> {
        static settings::IniFileObject settings;
        return std::make_unique<CEditDynamicFilterDlg>(settings, gui.core.m_messages);
    }};
    QTest::newRow("external command")
        << WindowMaker{[](GuiHarness& gui) -> std::unique_ptr<QWidget> {
               return std::make_unique<CEditExternalCommand>(
                   commands::ExternalCommand{1, 0, "ping", "ping -c 4 %RemoteAddr%", 1},
                   gui.core.m_messages);
           }};
    QTest::newRow("user input") << WindowMaker{[](GuiHarness&) -> std::unique_ptr<QWidget> {
        return std::make_unique<CInputUserArgDlg>(QStringLiteral("ホスト名"));
    }};
    QTest::newRow("bandwidth graph") << WindowMaker{[](GuiHarness&) -> std::unique_ptr<QWidget> {
        static core::BandwidthLog log;
        static settings::IniFileObject filters;
        return std::make_unique<CBandwidthGraphDlg>(log, filters);
    }};
}

void AccessibilityTest::everyControlHasAName() {
    QFETCH(WindowMaker, make);
    GuiHarness gui;
    QVERIFY(gui.start(""));
    std::unique_ptr<QWidget> own;
    QWidget* window = &gui.dialog();
    if (make) {
        own = make(gui);
        window = own.get();
    }
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));

    std::set<QString> nameless;
    collectNameless(window, nameless);
    QStringList found(nameless.begin(), nameless.end());
    QVERIFY2(nameless.empty(),
             qPrintable(QStringLiteral("without a name: ") + found.join(QStringLiteral(", "))));
}

} // namespace tavrin::ui::test

QTEST_MAIN(tavrin::ui::test::AccessibilityTest)
#include "AccessibilityTest.moc"
