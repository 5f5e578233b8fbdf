#include "QueueFacility.h"

#include "ProcessControl.h"

#include <sys/stat.h>

namespace tavrin::core {

namespace {

class RefusingDevice final : public DeviceLink {
public:
    std::optional<ControlReply> control(uint32_t, std::span<const uint8_t>,
                                        std::span<uint8_t>) override {
        return ControlReply{ovlank::STATUS_INVALID_PARAMETER, 0};
    }
};

} // namespace

bool QueueFacility::queueingPresent() const {
    struct stat st {};
    return ::stat(m_setup.queueStatusFile.c_str(), &st) == 0;
}

ScmOutcome QueueFacility::start() {
    if (!queueingPresent()) {
        std::string error;
        const int status = runCommand({m_setup.modprobe, "nfnetlink_queue"}, error);
        if (!queueingPresent()) {
            std::string text =
                "netfilter queueing is not available (" + m_setup.queueStatusFile + " is missing)";
            if (status < 0)
                text += "; " + error;
            else
                text += "; modprobe nfnetlink_queue exited with status " + std::to_string(status);
            return {ScmStatus::Failed, text};
        }
    }
    std::string error;
    const int status = runCommand({m_setup.iptables, "-w", "-n", "-L", "OUTPUT"}, error);
    if (status != 0) {
        return {ScmStatus::Failed,
                status < 0 ? "iptables is not usable: " + error
                           : "iptables is not usable (exit status " + std::to_string(status) + ")"};
    }
    return {ScmStatus::Ok, {}};
}

std::unique_ptr<DeviceLink> QueueFacility::open(const std::string&, std::string& error) {
    if (!queueingPresent()) {
        error = m_setup.queueStatusFile + ": netfilter queueing is not available";
        return nullptr;
    }
    return std::make_unique<RefusingDevice>();
}

} // namespace tavrin::core
