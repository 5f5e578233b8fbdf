#include "AdapterBinding.h"

namespace tavrin::settings {

const AdapterEntry* listedAdapter(const AdapterList& adapters, int32_t index) {
    if (index == AdapterList::kNoAdapterIndex)
        return nullptr;
    for (const AdapterEntry& entry : adapters)
        if (entry.index == index)
            return &entry;
    return nullptr;
}

void bindAdapterByName(PacketFilter& filter, std::string_view name, const AdapterList& adapters) {
    filter.adapterName = name == AdapterList::kNoAdapterName ? std::string() : std::string(name);
    filter.adapterIndex = adapters.indexByName(name);
}

void bindAdapterByIndex(PacketFilter& filter, int32_t index, const AdapterList& adapters) {
    const AdapterEntry* entry = listedAdapter(adapters, index);
    filter.adapterName = entry != nullptr ? entry->name : std::string();
    filter.adapterIndex = entry != nullptr ? index : AdapterList::kNoAdapterIndex;
}

void followAdapter(PacketFilter& filter, const AdapterList& adapters) {
    if (!filter.adapterName.empty()) {
        filter.adapterIndex = adapters.indexByName(filter.adapterName);
        return;
    }
    if (const AdapterEntry* entry = listedAdapter(adapters, filter.adapterIndex))
        filter.adapterName = entry->name;
}

std::string_view adapterNameToWrite(const PacketFilter& filter, const AdapterList& adapters) {
    // The name is the binding: an index that a vanished adapter left behind may
    // already belong to another one.
    if (!filter.adapterName.empty())
        return filter.adapterName;
    if (const AdapterEntry* entry = listedAdapter(adapters, filter.adapterIndex))
        return entry->name;
    return AdapterList::kNoAdapterName;
}

} // namespace tavrin::settings
