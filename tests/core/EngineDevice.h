// The real engine in the test's own process behind the device interface, so that
// the core's requests reach real rule-list, counter and ring logic and their order
// can be read back. Hook registration has no netfilter behind it here: it is
// recorded and always succeeds. A request can be refused on purpose, for the
// failures the engine itself never gives, and the link can fail as a socket to a
// frozen or dead daemon does: a request that never completes, one that is answered
// only after the link's stall mark, a device nobody serves.
#pragma once

#include "DeviceLink.h"
#include "Engine.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tavrin::core::test {

class EngineDevice final : public DeviceOpener {
public:
    struct Request {
        uint32_t code;
        std::vector<uint8_t> input;
        ovlank::NtStatus status;
    };

    EngineDevice() : m_engine(m_registrar) {}

    std::unique_ptr<DeviceLink> open(const std::string& path, std::string& error) override {
        if (m_gone) {
            error = "Connection refused";
            return nullptr;
        }
        m_paths.push_back(path);
        return std::make_unique<Link>(*this);
    }
    bool refuses(const std::string&) override { return m_gone; }

    ovlank::Engine& engine() { return m_engine; }
    bool hookRegistered() const { return m_registrar.registered; }
    const std::vector<Request>& requests() const { return m_requests; }
    // Just the names of the requests, in order.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& r : m_requests)
            out.push_back(ovlank::controlCodeName(r.code) ? ovlank::controlCodeName(r.code) : "?");
        return out;
    }
    void clear() { m_requests.clear(); }
    // The next request with `code` is answered with `status` and never reaches the engine.
    void refuseNext(uint32_t code, ovlank::NtStatus status = ovlank::STATUS_UNSUCCESSFUL) {
        m_refusals[code].push_back(status);
    }
    // The next request (of any code) never completes: the link is broken.
    void breakNext() { m_break = true; }
    // The next request is answered (or, with breakNext, given up) only after the
    // link's stall handler ran.
    void stallNext() { m_stall = true; }
    // While set, opening fails and nothing serves the device at all.
    void setGone(bool gone) { m_gone = gone; }
    // A new daemon in place of the old one: no rules, no hook, filtering off.
    void replaceDaemon() { m_engine.unload(); }
    size_t opens() const { return m_paths.size(); }

private:
    struct Registrar final : ovlank::HookRegistrar {
        ovlank::NtStatus registerHook() override {
            registered = true;
            return ovlank::STATUS_SUCCESS;
        }
        void unregisterHook() override { registered = false; }
        bool registered = false;
    };

    class Link final : public DeviceLink {
    public:
        explicit Link(EngineDevice& device) : m_device(device) {}
        std::optional<ControlReply> control(uint32_t code, std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
            if (m_broken || m_device.m_gone)
                return std::nullopt;
            if (std::exchange(m_device.m_stall, false) && m_stallHandler)
                m_stallHandler();
            if (std::exchange(m_device.m_break, false)) {
                m_broken = true;
                m_device.m_requests.push_back({code, {input.begin(), input.end()}, 0});
                return std::nullopt;
            }
            if (auto& refusals = m_device.m_refusals[code]; !refusals.empty()) {
                const ovlank::NtStatus status = refusals.front();
                refusals.pop_front();
                m_device.m_requests.push_back({code, {input.begin(), input.end()}, status});
                return ControlReply{status, 0};
            }
            const ovlank::RequestResult result = m_device.m_engine.dispatch(code, input, output);
            m_device.m_requests.push_back({code, {input.begin(), input.end()}, result.status});
            return ControlReply{result.status, result.information};
        }

        void setStallHandler(std::chrono::milliseconds, std::function<void()> handler) override {
            m_stallHandler = std::move(handler);
        }

    private:
        EngineDevice& m_device;
        std::function<void()> m_stallHandler;
        bool m_broken = false;
    };

    Registrar m_registrar;
    ovlank::Engine m_engine;
    std::vector<Request> m_requests;
    std::map<uint32_t, std::deque<ovlank::NtStatus>> m_refusals;
    std::vector<std::string> m_paths;
    bool m_break = false;
    bool m_stall = false;
    bool m_gone = false;
};

} // namespace tavrin::core::test
