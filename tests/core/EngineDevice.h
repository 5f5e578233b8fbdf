// The real engine in the test's own process behind the device interface, so that
// the core's requests reach real rule-list, counter and ring logic and their order
// can be read back. Hook registration has no netfilter behind it here: it is
// recorded and always succeeds. A request can be refused on purpose, for the
// failures the engine itself never gives.
#pragma once

#include "DeviceLink.h"
#include "Engine.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
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

    std::unique_ptr<DeviceLink> open(const std::string& path, std::string&) override {
        m_paths.push_back(path);
        return std::make_unique<Link>(*this);
    }

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

    private:
        EngineDevice& m_device;
    };

    Registrar m_registrar;
    ovlank::Engine m_engine;
    std::vector<Request> m_requests;
    std::map<uint32_t, std::deque<ovlank::NtStatus>> m_refusals;
    std::vector<std::string> m_paths;
};

} // namespace tavrin::core::test
