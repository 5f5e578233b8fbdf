// How a packet filter keeps its adapter. The adapter's name is the binding, kept
// even while no adapter has it (a VPN that is down, a USB adapter not plugged in);
// the index is where that name is found now. Interfaces that are created again get
// a new index, so the index alone would lose the adapter.
#pragma once

#include "AdapterList.h"
#include "PacketFilter.h"

#include <string_view>

namespace tavrin::settings {

// The listed adapter (never the entry for no adapter) with that index; nullptr when
// no adapter has it.
const AdapterEntry* listedAdapter(const AdapterList& adapters, int32_t index);

// Binds the filter to the adapter of that name, or to none for "none".
void bindAdapterByName(PacketFilter& filter, std::string_view name, const AdapterList& adapters);

// Binds the filter to the adapter with that index (a legacy ADAPTER_INDEX). An index
// that no adapter has leaves the filter without an adapter: the kernel hands
// indexes out in sequence, so the next interface made would take it.
void bindAdapterByIndex(PacketFilter& filter, int32_t index, const AdapterList& adapters);

// After the list was rebuilt: the index of the filter's adapter found again by its
// name (-1 while no adapter has it); a filter bound by index alone takes the name of
// the adapter with that index.
void followAdapter(PacketFilter& filter, const AdapterList& adapters);

// What the settings file stores: the name the filter is bound to, else (a filter
// bound by index alone) the name of the adapter listed with its index, else "none".
// Whoever changes a filter's adapter binds it with bindAdapterByName or
// bindAdapterByIndex, which keep the two in step.
std::string_view adapterNameToWrite(const PacketFilter& filter, const AdapterList& adapters);

} // namespace tavrin::settings
