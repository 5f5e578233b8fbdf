// The kernel's packet-queue facility, which the daemon hooks into: the system
// service "IpFilterDriver". Starting it makes sure netfilter queueing is present
// (loading nfnetlink_queue where it is a module) and that iptables works. It is
// never stopped or deleted by the program.
#pragma once

#include "DeviceLink.h"
#include "ServiceControlManager.h"

#include <string>

namespace tavrin::core {

class QueueFacility final : public SystemService, public DeviceOpener {
public:
    struct Setup {
        std::string queueStatusFile = "/proc/net/netfilter/nfnetlink_queue";
        std::string modprobe = "modprobe";
        std::string iptables = "iptables";
    };

    QueueFacility() = default;
    explicit QueueFacility(Setup setup) : m_setup(std::move(setup)) {}

    ScmOutcome start() override;

    // The facility's device: present while queueing is, and it takes no control
    // requests from the program (every request is refused).
    std::unique_ptr<DeviceLink> open(const std::string& path, std::string& error) override;

private:
    bool queueingPresent() const;

    Setup m_setup;
};

} // namespace tavrin::core
