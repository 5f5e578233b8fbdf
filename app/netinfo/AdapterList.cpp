#include "AdapterList.h"

#include "LinuxAdapterSource.h"
#include "OvlankProtocol.h"

#include <cstring>

namespace tavrin {

AdapterList::AdapterList() : AdapterList(std::make_unique<LinuxAdapterSource>()) {}

AdapterList::AdapterList(std::unique_ptr<AdapterSource> source) : m_source(std::move(source)) {
    m_entries.push_back(noneEntry());
}

AdapterList::~AdapterList() = default;

AdapterEntry AdapterList::noneEntry() {
    return AdapterEntry{kNoAdapterIndex, 0, std::string(kNoAdapterDescription),
                        std::string(kNoAdapterName)};
}

bool AdapterList::rebuild() {
    std::optional<std::vector<AdapterEntry>> adapters;
    if (m_source)
        adapters = m_source->listAdapters();
    m_entries.clear();
    m_entries.push_back(noneEntry());
    if (!adapters)
        return false;
    m_entries.insert(m_entries.end(), adapters->begin(), adapters->end());
    return true;
}

uint32_t AdapterList::addressByIndex(int32_t index) const {
    for (const AdapterEntry& e : m_entries) {
        if (e.index == index)
            return e.address;
    }
    return m_entries.front().address;
}

int32_t AdapterList::indexByAddress(uint32_t address) const {
    for (const AdapterEntry& e : m_entries) {
        if (e.address == address)
            return e.index;
    }
    return m_entries.front().index;
}

const std::string& AdapterList::nameByIndex(int32_t index) const {
    for (const AdapterEntry& e : m_entries) {
        if (e.index == index)
            return e.name;
    }
    return m_entries.front().name;
}

int32_t AdapterList::indexByName(std::string_view name) const {
    for (const AdapterEntry& e : m_entries) {
        if (e.name == name)
            return e.index;
    }
    return kNoAdapterIndex;
}

std::vector<uint8_t> AdapterList::localAddressListRecord() const {
    const ovlank::LocalAddressList head{static_cast<uint32_t>(m_entries.size())};
    std::vector<uint8_t> out(ovlank::localAddressListSize(head.count));
    std::memcpy(out.data(), &head, sizeof head);
    // The addresses exactly as held: network order.
    for (size_t i = 0; i < m_entries.size(); ++i)
        std::memcpy(out.data() + ovlank::kLocalAddressListHeadSize + 4 * i, &m_entries[i].address,
                    4);
    return out;
}

} // namespace tavrin
