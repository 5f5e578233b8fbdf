// What the monitor tests share: a connection table and host names as a test sets
// them (for rows the machine cannot make on demand), a main dialog link that
// records what a page asks of it, and a way to act inside a popup menu.
#pragma once

#include "HostLookup.h"
#include "OvlankProtocol.h"
#include "PacketBuilder.h"
#include "PageContext.h"
#include "TcpTableSource.h"

#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <QWidget>

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tavrin::ui::test {

// Rows as the table source hands them out; the test changes them between refreshes.
struct TableScript {
    std::vector<TcpRow> rows;
};

class ScriptedTable final : public TcpTableSource {
public:
    explicit ScriptedTable(std::shared_ptr<TableScript> script) : m_script(std::move(script)) {}
    bool read(std::vector<TcpRow>& rows, std::string&) override {
        rows = m_script->rows;
        return true;
    }
    bool hasOwners() const override { return true; }

private:
    std::shared_ptr<TableScript> m_script;
};

// Reverse names by dotted address; every other address has none. While the gate
// is shut a lookup waits, so that a test sees names pending for as long as it needs.
class ScriptedHosts final : public HostLookup {
public:
    explicit ScriptedHosts(std::map<std::string, std::string> names,
                           std::shared_ptr<std::atomic<bool>> gate = nullptr)
        : m_names(std::move(names)), m_gate(std::move(gate)) {}
    std::optional<std::string> localHostName() override { return "here"; }
    bool resolvesToAddress(const std::string&) override { return true; }
    std::optional<HostEntry> reverse(uint32_t address) override {
        while (m_gate && !m_gate->load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        in_addr a{};
        a.s_addr = address;
        auto it = m_names.find(::inet_ntoa(a));
        if (it == m_names.end())
            return std::nullopt;
        return HostEntry{it->second, {}};
    }

private:
    std::map<std::string, std::string> m_names;
    std::shared_ptr<std::atomic<bool>> m_gate;
};

inline TcpRow tableRow(const char* local, uint16_t localPort, const char* remote,
                       uint16_t remotePort, uint32_t state, int32_t pid = -1) {
    TcpRow r;
    r.state = state;
    r.localAddr = ::inet_addr(local);
    r.localPort = htons(localPort);
    r.remoteAddr = ::inet_addr(remote);
    r.remotePort = htons(remotePort);
    r.processId = pid;
    return r;
}

// A capture entry as the daemon makes it from a packet: the IP header's first 20
// bytes, then up to 20 bytes behind the whole header.
inline ovlank::CaptureEntry entryOf(const ovlank::test::PacketBuilder& builder, int32_t rule = -1) {
    const std::vector<uint8_t> bytes = builder.build();
    ovlank::CaptureEntry e{};
    e.ruleIndex = rule;
    std::memcpy(e.ipHeader, bytes.data(), 20);
    const size_t n = std::min<size_t>(bytes.size() - builder.headerLength(), 20);
    std::memcpy(e.transport, bytes.data() + builder.headerLength(), n);
    e.length = static_cast<uint32_t>(20 + n);
    return e;
}

// The main dialog as a page sees it, recording what it was asked.
class RecordingLink final : public MainDialogLink {
public:
    void showPage(int pageId) override { shownPages.push_back(pageId); }
    QWidget* page(int) const override { return nullptr; }
    bool windowHidden() const override { return false; }
    void runExternalCommand(const std::string& commandLine) override {
        commandLines.push_back(commandLine);
    }

    std::vector<int> shownPages;
    std::vector<std::string> commandLines;
};

// Runs `inside` on the next popup menu once it is open; it must close the menu.
// Gives up after `turns` turns of the event loop without a menu.
inline void whenPopupOpens(std::function<void(QMenu*)> inside, int turns = 500) {
    QTimer::singleShot(0, [inside, turns] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) {
            if (turns > 0)
                whenPopupOpens(inside, turns - 1);
            return;
        }
        inside(menu);
    });
}

// The texts of a menu's actions, "-" for separators, submenus as "title>".
inline std::vector<std::string> menuTexts(const QMenu* menu) {
    std::vector<std::string> texts;
    for (const QAction* a : menu->actions()) {
        if (a->isSeparator())
            texts.push_back("-");
        else if (a->menu())
            texts.push_back(a->text().toStdString() + ">");
        else
            texts.push_back(a->text().toStdString());
    }
    return texts;
}

} // namespace tavrin::ui::test
