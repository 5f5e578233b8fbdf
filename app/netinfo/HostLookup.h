// The name service as the host name resolver needs it. SystemHostLookup asks the
// system's resolver (files, DNS, ... as nsswitch.conf says); tests put a scripted
// one in its place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavrin {

struct HostEntry {
    std::string officialName; // may be empty
    std::vector<std::string> aliases;
};

class HostLookup {
public:
    virtual ~HostLookup() = default;
    // This machine's host name; nothing when it cannot be had.
    virtual std::optional<std::string> localHostName() = 0;
    // Whether `name` resolves to at least one IPv4 address.
    virtual bool resolvesToAddress(const std::string& name) = 0;
    // The reverse lookup of an IPv4 address (network order); nothing when there is
    // no answer. May block for as long as the name service takes.
    virtual std::optional<HostEntry> reverse(uint32_t address) = 0;
};

class SystemHostLookup final : public HostLookup {
public:
    std::optional<std::string> localHostName() override;
    bool resolvesToAddress(const std::string& name) override;
    std::optional<HostEntry> reverse(uint32_t address) override;
};

} // namespace tavrin
