// Lists the adapters of the network namespace of the calling thread by asking the
// kernel for its link and IPv4 address tables over rtnetlink.
#pragma once

#include "AdapterList.h"

namespace tavrin {

class LinuxAdapterSource final : public AdapterSource {
public:
    std::optional<std::vector<AdapterEntry>> listAdapters() override;
};

} // namespace tavrin
