#include "FilteringSession.h"

#include "PlainText.h"
#include "ProcessTable.h"
#include "SessionRules.h"
#include "TcpConnection.h"

#include <array>
#include <chrono>
#include <cstring>
#include <map>

namespace tavrin::core {

namespace {

template <class Record> std::vector<uint8_t> bytesOf(const Record& record) {
    std::vector<uint8_t> bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

} // namespace

FilteringSession::FilteringSession(SessionParts parts)
    : m_parts(parts), m_conditions(parts.network, m_bandwidth), m_failures(parts.messages),
      m_keeper({parts.driver, parts.messages, parts.view, parts.bypass}, *this) {}

int32_t FilteringSession::period() const {
    // As the settings file reads a period below 1: a zero period would mean no limit
    // at all and a timer that never rests.
    const int32_t ms = m_parts.inForce.GetBandwidthControlTime();
    return ms < 1 ? settings::kDefaultBandwidthControlTime : ms;
}

void FilteringSession::fail(uint32_t code) {
    if (m_parts.driver.deviceOpen())
        m_parts.messages.show(controlFailedText(code));
}

FilteringSession::Load FilteringSession::load(bool refreshTable) {
    auto lost = [&] { return !m_parts.driver.deviceOpen(); };
    const std::vector<uint8_t> addresses = m_parts.adapters.localAddressListRecord();
    if (const int result = m_parts.driver.Send(ovlank::SET_LOCALIP, addresses);
        result != kServiceOk) {
        if (lost())
            return Load::LinkLost;
        m_parts.messages.show(controlFailedText(ovlank::SET_LOCALIP) +
                              "\nReturn code : " + std::to_string(result));
        return Load::Refused;
    }

    uint32_t rules = 0;
    for (const auto& filter : m_parts.inForce.PacketFilters()) {
        if (filter->available != 1)
            continue;
        // The daemon holds 64 rules. A list that grew past that (by duplicating)
        // keeps its first 64 in force rather than losing the whole session; the
        // user is told once, as the daemon would refuse the next rule.
        if (rules == ovlank::kMaxRules) {
            fail(ovlank::ADD_FILTER);
            break;
        }
        const ovlank::DriverRule rule = driverRuleFor(*filter, period());
        if (m_parts.driver.Send(ovlank::ADD_FILTER, bytesOf(rule)) != kServiceOk) {
            if (lost())
                return Load::LinkLost;
            fail(ovlank::ADD_FILTER);
            return Load::Refused;
        }
        ++rules;
    }

    // A failed table ends the program unless the user keeps it; then the start goes on.
    if (refreshTable && !refreshConnections() && m_programEnding)
        return Load::Refused;
    if (!updatePortLists())
        return Load::LinkLost;
    m_parts.view.rulesReloaded();

    if (m_parts.driver.Send(ovlank::START_IP_HOOK, {}) != kServiceOk) {
        if (lost())
            return Load::LinkLost;
        fail(ovlank::START_IP_HOOK);
        return Load::Refused;
    }
    return Load::Done;
}

void FilteringSession::begin() {
    m_running = true;
    m_parts.view.sessionTimers(true, std::chrono::milliseconds(period()));
}

void FilteringSession::end() {
    m_running = false;
    m_parts.view.sessionTimers(false, std::chrono::milliseconds(period()));
}

bool FilteringSession::start() {
    m_parts.host.commitForSessionStart();
    // A daemon that cannot be reached now gets the session once it is back.
    if (!m_keeper.ready()) {
        if (!m_keeper.gaveUp())
            begin();
        m_keeper.sessionChanged();
        return false;
    }
    switch (load(true)) {
    case Load::Done: begin(); return true;
    case Load::Refused: return false;
    case Load::LinkLost: begin(); return false;
    }
    return false;
}

bool FilteringSession::stop() {
    // Without a link there is nothing to take down now; a daemon that comes back is
    // brought to the stopped state by the restore.
    if (m_keeper.up()) {
        for (uint32_t code : {ovlank::STOP_IP_HOOK, ovlank::CLEAR_FILTER}) {
            if (m_parts.driver.Send(code, {}) != kServiceOk && m_parts.driver.deviceOpen()) {
                fail(code);
                return false;
            }
        }
    }
    end();
    return true;
}

void FilteringSession::restart() {
    m_parts.host.commitSettings();
    if (stop())
        start();
}

bool FilteringSession::restoreDaemon() {
    // A request lost with the link may or may not have been carried out, and a new
    // daemon holds nothing: the whole state is sent again, as a rebuild would.
    for (uint32_t code : {ovlank::STOP_IP_HOOK, ovlank::CLEAR_FILTER}) {
        if (m_parts.driver.Send(code, {}) != kServiceOk) {
            if (!m_parts.driver.deviceOpen())
                return false;
            fail(code);
            if (m_running)
                end(); // rules behind rules would have the wrong indices
            break;
        }
    }
    if (m_running) {
        switch (load(false)) {
        case Load::Done: break;
        case Load::Refused: end(); break;
        case Load::LinkLost: return false;
        }
    }
    const uint32_t switchCode = m_filtering ? ovlank::START_FILTERING : ovlank::STOP_FILTERING;
    if (m_parts.driver.Send(switchCode, {}) != kServiceOk) {
        if (!m_parts.driver.deviceOpen())
            return false;
        fail(switchCode);
    }
    // The overrides of the current conditions, for the rule indices in force now.
    if (m_running)
        runDynamicPass();
    return m_parts.driver.deviceOpen();
}

void FilteringSession::linkDown() {
    // What was read of the current second is not a whole second's worth.
    m_bandwidth.interrupt();
    m_parts.view.setPaneText(kPaneUp,
                             BandwidthMonitor::paneText(0, BandwidthMonitor::kNotMeasured));
    m_parts.view.setPaneText(kPaneDown,
                             BandwidthMonitor::paneText(1, BandwidthMonitor::kNotMeasured));
}

void FilteringSession::startFiltering() {
    m_keeper.ready();
    if (m_parts.driver.Send(ovlank::START_FILTERING, {}) != kServiceOk) {
        m_parts.messages.show(controlFailedText(ovlank::START_FILTERING));
        return;
    }
    m_filtering = true;
    m_parts.view.filteringChanged(true);
}

void FilteringSession::stopFiltering() {
    m_keeper.ready();
    if (m_parts.driver.Send(ovlank::STOP_FILTERING, {}) != kServiceOk) {
        m_parts.messages.show(controlFailedText(ovlank::STOP_FILTERING));
        return;
    }
    m_filtering = false;
    m_parts.view.filteringChanged(false);
}

void FilteringSession::drainPackets() {
    if (!m_keeper.ready())
        return;
    const int32_t rows = m_parts.inForce.GetMaxPacketCaptureNum();
    const bool noRedraw = rows > 200 ? m_hidden : true;
    // One ring's worth at most: under a flood the daemon refills the ring as fast as
    // it is read, and the program's only thread must get on with its other work.
    for (uint32_t n = 0; n < ovlank::kCaptureRingSlots; ++n) {
        std::array<uint8_t, sizeof(ovlank::CaptureEntry)> buffer{};
        const int got = m_parts.driver.Receive(ovlank::GET_PACKET, buffer);
        if (got < static_cast<int>(ovlank::kCaptureHeadSize))
            break; // empty, failed, or no entry at all
        ovlank::CaptureEntry entry{};
        std::memcpy(&entry, buffer.data(), sizeof entry);
        // The entry carries what was returned and nothing past it.
        const auto returned =
            static_cast<uint32_t>(got - static_cast<int>(ovlank::kCaptureHeadSize));
        if (entry.length > returned)
            entry.length = returned;
        if (m_monitorPackets)
            m_parts.view.packetCaptured(entry, noRedraw);
        if (!m_hidden)
            m_parts.network.accountPacket(entry);
    }
    if (rows <= 200 && !m_hidden && m_monitorPackets)
        m_parts.view.redrawPacketList();
}

void FilteringSession::readCounters() {
    if (!m_keeper.ready())
        return;
    // Room for the largest reply the daemon can give, whatever the filter count.
    std::array<uint8_t, sizeof(ovlank::BandwidthReply)> reply{};
    const int got = m_parts.driver.Receive(ovlank::CLEAR_BANDWIDTH, reply);
    if (got < 0 && !m_parts.driver.deviceOpen())
        return; // lost with the link: the keeper has it
    std::vector<int32_t> available;
    for (const auto& filter : m_parts.inForce.PacketFilters())
        available.push_back(filter->available);
    if (got < 0 ||
        !m_bandwidth.addReading(std::span(reply.data(), static_cast<size_t>(got)), available))
        m_failures.failed(ovlank::CLEAR_BANDWIDTH);
    else
        m_failures.succeeded(ovlank::CLEAR_BANDWIDTH);
}

void FilteringSession::secondTick() {
    const int32_t window = m_parts.inForce.GetTimeToCalcAverageBandwidth();
    const auto& filters = m_parts.inForce.PacketFilters();
    const BandwidthMonitor::Second second =
        m_bandwidth.secondTick(filters.size(), m_hidden, window, [&](size_t k, int32_t bytes) {
            filters[k]->AddBandwidthSample(bytes, window);
        });
    recordSecond(second);
    if (!second.visible)
        return;
    m_parts.view.refreshFilterBandwidth(m_dynamicPass.overriddenRules());
    m_parts.view.setPaneText(kPaneUp, BandwidthMonitor::paneText(0, second.sent));
    m_parts.view.setPaneText(kPaneDown, BandwidthMonitor::paneText(1, second.received));
}

void FilteringSession::recordSecond(const BandwidthMonitor::Second& second) {
    // Nothing is measured before the first counter reading.
    if (second.sent == BandwidthMonitor::kNotMeasured)
        return;
    BandwidthLogSample sample;
    sample.time = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    sample.sent = second.sent;
    sample.received = second.received;
    for (const auto& filter : m_parts.inForce.PacketFilters())
        if (filter->id != 0)
            sample.filters.emplace_back(filter->id, filter->currentBandwidth);
    m_bandwidthLog.record(std::move(sample));
    m_parts.view.bandwidthRecorded();
}

bool FilteringSession::refreshConnections() {
    if (!m_parts.network.refresh()) {
        m_parts.messages.show("TCPテーブルの取得に失敗しました。Tavrinを終了します。\n"
                              "何度もこのメッセージが出る場合はWindowsを再起動してください。");
        m_programEnding = m_parts.host.runExitPath();
        return false;
    }
    if (!m_hidden)
        m_parts.view.refreshConnectionPage();
    return true;
}

bool FilteringSession::updatePortLists() {
    // Process names by id, looked up once per tick.
    std::map<int32_t, std::string> names;
    const ProcessTable& processes = m_parts.network.processTable();
    auto nameOf = [&](int32_t pid) -> const std::string& {
        auto it = names.find(pid);
        if (it == names.end())
            it = names.emplace(pid, processes.processDisplayName(pid)).first;
        return it->second;
    };

    uint16_t rule = 0;
    for (const auto& filter : m_parts.inForce.PacketFilters()) {
        if (filter->available != 1)
            continue;
        if (rule >= ovlank::kMaxRules)
            break; // never sent to the daemon
        const uint16_t index = rule++;
        if (filter->appName.empty())
            continue;
        ovlank::PortListRequest request{};
        uint16_t count = 0;
        for (const TcpConnection& c : m_parts.network.connections()) {
            if (count == ovlank::kMaxPortListEntries)
                break;
            if (c.state < kTcpListening || c.state > kTcpEstablished)
                continue;
            if (!equalsIgnoringCase(nameOf(c.processId), filter->appName))
                continue;
            const uint16_t port = localPortHostOrder(c);
            // Equal local ports stand next to each other in the table.
            if (count > 0 && request.ports[count - 1] == port)
                continue;
            request.ports[count++] = port;
        }
        request.ruleIndex = index;
        request.portSelector = filter->GetProcessPortSelector();
        request.portCount = count > 0 ? count : ovlank::kPortListMatchesNothing;
        uint8_t bytes[sizeof request];
        std::memcpy(bytes, &request, sizeof request);
        const size_t length = ovlank::portListRequestSize(request.portCount);
        // A refusal is ignored; only a device that is not there (any more) ends the
        // step, and the keeper of the link reports that.
        if (m_parts.driver.Send(ovlank::SET_PORTS, std::span(bytes, length)) != kServiceOk &&
            !m_parts.driver.deviceOpen())
            return false;
        filter->SetProcessPorts(std::span<const uint16_t>(request.ports, count), request.portCount);
    }
    return true;
}

void FilteringSession::connectionTick() {
    if (!refreshConnections())
        return;
    m_keeper.watch();
    if (!m_keeper.ready())
        return;
    if (!updatePortLists())
        return;
    runDynamicPass();
}

void FilteringSession::runDynamicPass() {
    std::vector<const PacketFilter*> packets;
    for (const auto& f : m_parts.inForce.PacketFilters())
        packets.push_back(f.get());
    std::vector<const DynamicFilter*> dynamics;
    for (const auto& d : m_parts.edited.DynamicFilters())
        dynamics.push_back(d.get());
    m_dynamicPass.run({packets, dynamics, m_filtering, m_dynamicFiltering, period()}, m_conditions,
                      m_parts.driver, m_failures);
}

void FilteringSession::addressTick() {
    m_parts.adapters.rebuild();
    if (m_parts.edited.RefreshLocalAddresses(m_parts.adapters))
        restart();
}

} // namespace tavrin::core
