// The application core put together for tests: the real engine behind the device,
// the real settings files in a private folder, the real connection and process
// tables of this machine, and a view that records what the core shows. Only the
// service manager (which needs root and a daemon) and the adapter list (whose
// addresses a test cannot change here) are fixtures.
#pragma once

#include "AdapterList.h"
#include "ApplicationCore.h"
#include "EngineDevice.h"
#include "FilePrivateProfile.h"
#include "ForwardingView.h"
#include "PacketBuilder.h"
#include "PosixFileSystem.h"
#include "RecordingMessages.h"
#include "ScriptedSystem.h"
#include "TempFolder.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tavrin::core::test {

class RecordingView final : public CoreView {
public:
    void sessionTimers(bool running, std::chrono::milliseconds period) override {
        timersRunning = running;
        timerPeriod = period;
        events.push_back(running ? "timers on" : "timers off");
    }
    void setPaneText(int pane, const std::string& text) override { panes[pane] = text; }
    void endProgram() override { events.push_back("end"); }
    void filteringChanged(bool filtering) override {
        events.push_back(filtering ? "filtering on" : "filtering off");
    }
    void rulesReloaded() override { events.push_back("rules reloaded"); }
    void packetCaptured(const ovlank::CaptureEntry& entry, bool noRedraw) override {
        captured.push_back(entry);
        noRedraws.push_back(noRedraw);
    }
    void redrawPacketList() override { ++redraws; }
    void refreshConnectionPage() override { ++connectionPageRefreshes; }
    void refreshFilterBandwidth(const std::vector<int32_t>& overridden) override {
        overriddenRules = overridden;
        ++bandwidthRefreshes;
    }
    void bandwidthRecorded() override { ++bandwidthRecords; }
    void programEnding() override { events.push_back("ending"); }
    void setStatusText(const std::string& text) override { statusTexts.push_back(text); }

    bool timersRunning = false;
    std::chrono::milliseconds timerPeriod{0};
    std::vector<std::string> events;
    std::map<int, std::string> panes;
    std::vector<ovlank::CaptureEntry> captured;
    std::vector<bool> noRedraws;
    int redraws = 0;
    int connectionPageRefreshes = 0;
    int bandwidthRefreshes = 0;
    int bandwidthRecords = 0;
    std::vector<int32_t> overriddenRules;
    std::vector<std::string> statusTexts;
};

// A bypass that only counts, and works or fails as the test says.
class RecordingBypass final : public HookBypass {
public:
    bool detach(std::string& error) override {
        ++detaches;
        if (!works)
            error = "iptables-restore: line 3 failed";
        return works;
    }
    int detaches = 0;
    bool works = true;
};

// Adapters as a test sets them.
class FixedAdapters final : public AdapterSource {
public:
    explicit FixedAdapters(std::vector<AdapterEntry>& rows) : m_rows(rows) {}
    std::optional<std::vector<AdapterEntry>> listAdapters() override { return m_rows; }

private:
    std::vector<AdapterEntry>& m_rows;
};

inline constexpr uint32_t kLocal = ovlank::test::ip(192, 168, 7, 2);
inline constexpr uint32_t kRemote = ovlank::test::ip(10, 1, 2, 3);

class CoreHarness {
public:
    CoreHarness() : CoreHarness(nullptr) {}
    // With `table`, the connection table comes from it instead of the kernel; with
    // `hosts`, host names from it instead of the system's resolver.
    explicit CoreHarness(std::unique_ptr<TcpTableSource> table,
                         std::unique_ptr<HostLookup> hosts = nullptr,
                         NetworkInfo::Options options = {})
        : m_adapterRows{{3, kLocal, "test adapter", "eth7"}},
          m_adapters(std::make_unique<FixedAdapters>(m_adapterRows)),
          m_network(m_messages, networkParts(std::move(table), std::move(hosts)), options),
          m_commands(m_files, m_messages) {
        tavrin::test::enter(m_folder.path());
        m_folder.write("Ovlank", ""); // the daemon file the bring-up looks for
    }

    NetworkInfo::Parts networkParts(std::unique_ptr<TcpTableSource> table,
                                    std::unique_ptr<HostLookup> hosts) {
        NetworkInfo::Parts parts = NetworkInfo::systemParts(m_messages);
        if (table) {
            parts.ownerSource = std::move(table);
            parts.plainSource.reset();
        }
        if (hosts)
            parts.hostLookup = std::move(hosts);
        return parts;
    }

    // Brings the core up with `settings` as Setting.ini (none when empty).
    bool setUp(const std::string& settings) {
        if (!settings.empty())
            m_folder.write("Setting.ini", settings);
        return m_core.setUp({true, ""});
    }
    bool start(const std::string& settings) {
        if (!setUp(settings))
            return false;
        m_engine.clear();
        m_core.initialise();
        return true;
    }

    // Hands a packet to the engine as the hook would; true when it passes.
    bool decide(const ovlank::test::PacketBuilder& packet) {
        return m_engine.engine().decidePacket(packet.build()) == ovlank::Verdict::Forward;
    }

    tavrin::test::CurrentFolderGuard m_guard;
    tavrin::test::TempFolder m_folder;
    tavrin::test::RecordingMessages m_messages;
    RecordingView m_view;
    // The window's tests put the window here in place of the recorder.
    ForwardingView m_forward{&m_view};
    ScriptedManager m_manager;
    ScriptedOpener m_facility;
    EngineDevice m_engine;
    std::vector<AdapterEntry> m_adapterRows;
    AdapterList m_adapters;
    NetworkInfo m_network;
    settings::PosixFileSystem m_files;
    settings::FilePrivateProfile m_profile{m_files};
    commands::ExternalCommandIni m_commands;
    DriverService m_ipFilter{{m_manager, m_facility, m_messages, "/run/t/", "", {}}};
    DriverService m_ovlank{{m_manager, m_engine, m_messages, "/run/t/", "", {}}};
    RecordingBypass m_bypass;
    ApplicationCore m_core{{m_messages, m_forward, m_ipFilter, m_ovlank, m_network, m_adapters,
                            m_files, m_profile, m_commands, settings::kSettingsFile, &m_bypass}};
};

} // namespace tavrin::core::test
