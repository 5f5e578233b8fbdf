// The filtering session: the daemon holds one rule per enabled filter of the
// settings in force and its hook runs. Started when the program opens, rebuilt
// whenever filters, the bandwidth control period or the machine's addresses
// change; the daemon's filtering switch is separate and survives rebuilds. The
// timers' work is here as plain calls.
#pragma once

#include "AdapterList.h"
#include "BandwidthLog.h"
#include "BandwidthMonitor.h"
#include "CoreView.h"
#include "DaemonKeeper.h"
#include "DriverService.h"
#include "DynamicFilterPass.h"
#include "FailureEpisodes.h"
#include "IniFileObject.h"
#include "Messages.h"
#include "NetworkConditions.h"
#include "NetworkInfo.h"

namespace tavrin::core {

// What the session needs from its owner besides the parts below.
class SessionHost {
public:
    virtual ~SessionHost() = default;
    // Session start, step 1: the settings being edited become the settings in force
    // (saved to the file as well when AUTO_SAVE is set).
    virtual void commitForSessionStart() = 0;
    // The edited settings become the settings in force, nothing saved.
    virtual void commitSettings() = 0;
    // A fatal failure: runs the exit path. True when the program is ending.
    virtual bool runExitPath() = 0;
};

struct SessionParts {
    DriverService& driver;
    Messages& messages;
    CoreView& view;
    SessionHost& host;
    settings::IniFileObject& inForce;
    settings::IniFileObject& edited;
    NetworkInfo& network;
    AdapterList& adapters;
    HookBypass& bypass;
};

class FilteringSession final : private DaemonKeeper::Owner {
public:
    explicit FilteringSession(SessionParts parts);

    // True when the hook runs with every rule loaded. While the daemon cannot be
    // reached the session still counts as started (its timers run): the daemon gets
    // its rules when it is back.
    bool start();
    // True when the hook is gone and the rules are cleared (or the daemon cannot be
    // reached, and gets neither hook nor rules when it is back).
    bool stop();
    // Starts again only after a stop that worked: new rules behind old ones would
    // not have the indices the program gives them. The next restart tries again.
    void restart();
    bool running() const { return m_running; }

    void startFiltering();
    void stopFiltering();
    bool filtering() const { return m_filtering; }

    // Timer 1015: drain the capture ring.
    void drainPackets();
    // Timer 1016: read and reset the daemon's counters.
    void readCounters();
    // Timer 1017: per-filter and total bandwidth, the status bar.
    void secondTick();
    // Timer 1020: connection table, connection page, port lists, dynamic filters.
    void connectionTick();
    // Timer 1021: the machine's addresses; a filter following a changed one
    // restarts the session.
    void addressTick();

    // The window's state as far as the session cares.
    void setHidden(bool hidden) { m_hidden = hidden; }
    bool hidden() const { return m_hidden; }
    void setMonitorPackets(bool on) { m_monitorPackets = on; }
    bool monitorPackets() const { return m_monitorPackets; }
    void setDynamicFiltering(bool on) { m_dynamicFiltering = on; }
    bool dynamicFiltering() const { return m_dynamicFiltering; }

    BandwidthMonitor& bandwidth() { return m_bandwidth; }
    // The last ten minutes of the second ticks, for the bandwidth graph.
    const BandwidthLog& bandwidthLog() const { return m_bandwidthLog; }
    const DynamicFilterPass& dynamicPass() const { return m_dynamicPass; }
    const DaemonKeeper& keeper() const { return m_keeper; }

    // Port lists of process-bound filters (timer 1020, step 3). False when the
    // link to the daemon is gone and the step ended early.
    bool updatePortLists();

private:
    enum class Load { Done, Refused, LinkLost };

    // DaemonKeeper::Owner
    bool restoreDaemon() override;
    void linkDown() override;
    bool hooked() const override { return m_running; }

    // Steps 2 to 6 of the start: addresses, rules, port lists, hook.
    Load load(bool refreshTable);
    // The session runs as far as the program is concerned: timers on.
    void begin();
    void end();
    bool refreshConnections(); // timer 1020 steps 1 and 2; false when the table failed
    void recordSecond(const BandwidthMonitor::Second& second);
    void runDynamicPass(); // timer 1020 step 4
    // A failed request: nothing to show when the link went with it (the keeper
    // reports that); else its message.
    void fail(uint32_t code);
    int32_t period() const;

    SessionParts m_parts;
    BandwidthMonitor m_bandwidth;
    BandwidthLog m_bandwidthLog;
    DynamicFilterPass m_dynamicPass;
    NetworkConditions m_conditions;
    FailureEpisodes m_failures;
    DaemonKeeper m_keeper;
    bool m_running = false;
    bool m_filtering = false;
    bool m_hidden = false;
    bool m_monitorPackets = false;
    bool m_dynamicFiltering = true;
    bool m_programEnding = false;
};

} // namespace tavrin::core
