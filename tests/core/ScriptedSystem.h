// Fixtures for states the tests cannot make with the real service folder or the
// real daemon: a service manager whose every answer is scripted (a failing delete,
// a locked database at a chosen moment), and a device whose replies are scripted.
// Both record what they were asked, in order.
#pragma once

#include "DeviceLink.h"
#include "ServiceControlManager.h"

#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace tavrin::core::test {

class ScriptedManager final : public ServiceControlManager {
public:
    // Answers queued per operation ("openManager", "create", "open", "change", "start",
    // "stop", "delete"); an operation without queued answers succeeds. The queries
    // are not recorded (the program asks every second): they answer `state` and the
    // configuration last created or changed.
    void script(const std::string& operation, ScmStatus status, std::string text = {}) {
        m_answers[operation].push_back({status, std::move(text)});
    }
    const std::vector<std::string>& calls() const { return m_calls; }
    const ServiceConfig& lastConfig() const { return m_config; }
    void clearCalls() { m_calls.clear(); }

    ScmOutcome openManager() override { return answer("openManager", {}); }
    ScmOutcome createService(const std::string& name, const ServiceConfig& config) override {
        m_config = config;
        return answer("create", name);
    }
    ScmOutcome openService(const std::string& name) override { return answer("open", name); }
    // A start that works leaves the service running, a stop leaves it stopped.
    ScmOutcome startService(const std::string& name) override {
        ScmOutcome out = answer("start", name);
        if (out.ok() || out.status == ScmStatus::AlreadyRunning)
            state = ServiceState::Running;
        return out;
    }
    ScmOutcome stopService(const std::string& name) override {
        ScmOutcome out = answer("stop", name);
        if (out.ok())
            state = ServiceState::Stopped;
        return out;
    }
    ScmOutcome deleteService(const std::string& name) override { return answer("delete", name); }
    ScmOutcome changeServiceConfig(const std::string& name, const ServiceConfig& config) override {
        ScmOutcome out = answer("change", name);
        if (out.ok())
            m_config = config;
        return out;
    }
    ScmOutcome queryServiceConfig(const std::string&, ServiceConfig& config) override {
        if (m_config.executable.empty())
            return {ScmStatus::NoSuchService, {}};
        config = m_config;
        return {ScmStatus::Ok, {}};
    }
    ScmOutcome queryServiceStatus(const std::string&, ServiceState& out) override {
        out = state;
        return {ScmStatus::Ok, {}};
    }

    ServiceState state = ServiceState::Running;

private:
    ScmOutcome answer(const std::string& operation, const std::string& name) {
        m_calls.push_back(name.empty() ? operation : operation + " " + name);
        auto& queue = m_answers[operation];
        if (queue.empty())
            return {ScmStatus::Ok, {}};
        ScmOutcome out = queue.front();
        queue.pop_front();
        return out;
    }

    std::map<std::string, std::deque<ScmOutcome>> m_answers;
    std::vector<std::string> m_calls;
    ServiceConfig m_config;
};

// Every request succeeds with no output unless scripted otherwise per code.
class ScriptedDevice final : public DeviceLink {
public:
    struct Reply {
        bool delivered = true;
        ovlank::NtStatus status = ovlank::STATUS_SUCCESS;
        std::vector<uint8_t> output;
    };
    struct Request {
        uint32_t code;
        std::vector<uint8_t> input;
        size_t outputSize;
    };

    void script(uint32_t code, Reply reply) { m_replies[code].push_back(std::move(reply)); }
    const std::vector<Request>& requests() const { return m_requests; }

    std::optional<ControlReply> control(uint32_t code, std::span<const uint8_t> input,
                                        std::span<uint8_t> output) override {
        m_requests.push_back({code, {input.begin(), input.end()}, output.size()});
        Reply reply;
        if (auto& queue = m_replies[code]; !queue.empty()) {
            reply = queue.front();
            queue.pop_front();
        } else if (code == ovlank::GET_VERSION) {
            reply.output = {0x14, 0x05, 0, 0}; // 1300
        }
        if (!reply.delivered)
            return std::nullopt;
        const size_t n = std::min(reply.output.size(), output.size());
        if (n > 0)
            std::memcpy(output.data(), reply.output.data(), n);
        return ControlReply{reply.status, static_cast<uint32_t>(n)};
    }

private:
    std::map<uint32_t, std::deque<Reply>> m_replies;
    std::vector<Request> m_requests;
};

// Hands out one device per open; `device` is shared so the test can inspect it.
class ScriptedOpener final : public DeviceOpener {
public:
    std::unique_ptr<DeviceLink> open(const std::string& path, std::string& error) override {
        m_paths.push_back(path);
        if (m_failures > 0) {
            --m_failures;
            error = "No such file or directory";
            return nullptr;
        }
        return std::make_unique<Forwarder>(m_device);
    }
    void failNext(int count) { m_failures = count; }
    ScriptedDevice& device() { return m_device; }
    const std::vector<std::string>& paths() const { return m_paths; }

private:
    class Forwarder final : public DeviceLink {
    public:
        explicit Forwarder(ScriptedDevice& device) : m_target(device) {}
        std::optional<ControlReply> control(uint32_t code, std::span<const uint8_t> input,
                                            std::span<uint8_t> output) override {
            return m_target.control(code, input, output);
        }

    private:
        ScriptedDevice& m_target;
    };

    ScriptedDevice m_device;
    std::vector<std::string> m_paths;
    int m_failures = 0;
};

} // namespace tavrin::core::test
