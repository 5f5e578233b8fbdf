// The window side of the program as the core sees it: what it shows and which
// timers it runs. The Qt main dialog implements it with its widgets and QTimers,
// tavrinctl run with standard output and its event loop.
#pragma once

#include "OvlankProtocol.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tavrin::core {

// The main dialog's timers, by their ids.
inline constexpr int kTimerDrainPackets = 1015;   // 200 ms, while a session runs
inline constexpr int kTimerReadCounters = 1016;   // the bandwidth control period, likewise
inline constexpr int kTimerSecond = 1017;         // 1000 ms, likewise
inline constexpr int kTimerStartHidden = 1018;    // 4000 ms once, when starting minimised
inline constexpr int kTimerMinimise = 1019;       // 300 ms once, likewise
inline constexpr int kTimerConnections = 1020;    // 1000 ms, for the program's life
inline constexpr int kTimerLocalAddresses = 1021; // 5000 ms, likewise

inline constexpr std::chrono::milliseconds kDrainPeriod{200};
inline constexpr std::chrono::milliseconds kSecondPeriod{1000};
inline constexpr std::chrono::milliseconds kConnectionsPeriod{1000};
inline constexpr std::chrono::milliseconds kLocalAddressesPeriod{5000};

inline constexpr char kProgramName[] = "Tavrin";
inline constexpr char kTotalPaneText[] = " TOTAL ";

class CoreView {
public:
    virtual ~CoreView() = default;

    // Timers 1015, 1016 (every `period`) and 1017 start with a session and stop with it.
    virtual void sessionTimers(bool running, std::chrono::milliseconds period) = 0;
    // The status bar pane with this id (104 UP, 105 DOWN, 106 TOTAL) shows `text`.
    virtual void setPaneText(int pane, const std::string& text) = 0;
    // The exit path has run to its end: the window closes and the program ends.
    virtual void endProgram() = 0;

    // Filtering switched: the start and stop commands and the filter page follow.
    virtual void filteringChanged(bool /*filtering*/) {}
    // The driver's rules were loaded afresh (the packet monitor starts over).
    virtual void rulesReloaded() {}
    // One captured packet for the packet monitor; with `noRedraw` it is only filed.
    virtual void packetCaptured(const ovlank::CaptureEntry& /*entry*/, bool /*noRedraw*/) {}
    virtual void redrawPacketList() {}
    virtual void refreshConnectionPage() {}
    // The filter page's bandwidth column, with the rules dynamic filters override now.
    virtual void refreshFilterBandwidth(const std::vector<int32_t>& /*overriddenRules*/) {}
    // A second of bandwidth entered the session's bandwidth log.
    virtual void bandwidthRecorded() {}
    // The exit path is leaving: tray icon, pages and a running external command go.
    virtual void programEnding() {}
    // A lasting state the user should see in the status bar (the daemon does not
    // answer, or could not be started again); an empty text clears it.
    virtual void setStatusText(const std::string& /*text*/) {}
};

} // namespace tavrin::core
