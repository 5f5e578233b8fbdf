// Failures of the requests the program repeats every period or every second: one
// that begins to fail is shown once, not again while it goes on failing; a success
// of the same request ends the episode, so the next failure is shown again.
#pragma once

#include "DriverService.h"
#include "Messages.h"

#include <cstdint>
#include <set>

namespace tavrin::core {

class FailureEpisodes final {
public:
    explicit FailureEpisodes(Messages& messages) : m_messages(messages) {}

    // Shows "FAILED: DeviceIoControl NAME" when this request's episode begins.
    void failed(uint32_t code) {
        if (m_failing.insert(code).second)
            m_messages.show(controlFailedText(code));
    }
    void succeeded(uint32_t code) { m_failing.erase(code); }

private:
    Messages& m_messages;
    std::set<uint32_t> m_failing;
};

} // namespace tavrin::core
