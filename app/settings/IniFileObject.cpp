#include "IniFileObject.h"

#include "AdapterBinding.h"
#include "PlainText.h"

#include <algorithm>
#include <bitset>

namespace tavrin::settings {

namespace {

using IdSet = std::bitset<CommonFilter::kHighestId + 1>;

template <class T> IdSet usedIds(const std::vector<std::unique_ptr<T>>& list) {
    IdSet used;
    for (const auto& f : list)
        if (f->id >= CommonFilter::kLowestId && f->id <= CommonFilter::kHighestId)
            used.set(static_cast<size_t>(f->id));
    return used;
}

// The smallest ID from 1 to 63 not in `used`, or 0.
int32_t smallestFree(const IdSet& used) {
    for (int32_t id = CommonFilter::kLowestId; id <= CommonFilter::kHighestId; ++id)
        if (!used.test(static_cast<size_t>(id)))
            return id;
    return 0;
}

template <class T> int32_t freeId(const std::vector<std::unique_ptr<T>>& list) {
    return smallestFree(usedIds(list));
}

template <class T> void addWithId(std::vector<std::unique_ptr<T>>& list, const T& filter) {
    auto copy = std::make_unique<T>(filter);
    if (copy->id == 0)
        copy->id = freeId(list);
    list.push_back(std::move(copy));
}

template <class T>
bool insertAt(std::vector<std::unique_ptr<T>>& list, int position, const T& filter) {
    if (position < 0 || static_cast<size_t>(position) > list.size())
        return false;
    list.insert(list.begin() + position, std::make_unique<T>(filter));
    return true;
}

template <class T> bool swapAt(std::vector<std::unique_ptr<T>>& list, int a, int b) {
    const auto n = static_cast<int>(list.size());
    if (a < 0 || b < 0 || a >= n || b >= n)
        return false;
    std::swap(list[static_cast<size_t>(a)], list[static_cast<size_t>(b)]);
    return true;
}

template <class T>
bool removeAt(std::vector<std::unique_ptr<T>>& list, int position, Messages& messages) {
    if (position < 0 || static_cast<size_t>(position) >= list.size()) {
        messages.show(kMessageBadIndex);
        return false;
    }
    list.erase(list.begin() + position);
    return true;
}

template <class T> T* findById(const std::vector<std::unique_ptr<T>>& list, int32_t id) {
    if (id == 0)
        return nullptr;
    for (const auto& f : list)
        if (f->id == id)
            return f.get();
    return nullptr;
}

template <class T> T* at(const std::vector<std::unique_ptr<T>>& list, int position) {
    if (position < 0 || static_cast<size_t>(position) >= list.size())
        return nullptr;
    return list[static_cast<size_t>(position)].get();
}

template <class T>
std::vector<std::unique_ptr<T>> copyList(const std::vector<std::unique_ptr<T>>& list) {
    std::vector<std::unique_ptr<T>> out;
    out.reserve(list.size());
    for (const auto& f : list)
        out.push_back(std::make_unique<T>(*f));
    return out;
}

} // namespace

IniFileObject::IniFileObject(const IniFileObject& other)
    : m_common(other.m_common), m_packetFilters(copyList(other.m_packetFilters)),
      m_dynamicFilters(copyList(other.m_dynamicFilters)) {}

IniFileObject& IniFileObject::operator=(const IniFileObject& other) {
    if (this == &other)
        return *this;
    m_common = other.m_common;
    m_packetFilters = copyList(other.m_packetFilters);
    m_dynamicFilters = copyList(other.m_dynamicFilters);
    return *this;
}

void IniFileObject::CopyOptionsFrom(const IniFileObject& other) {
    m_common = other.m_common;
}

void IniFileObject::SetCommonSectionName(std::string_view name) {
    m_common.commonSectionName = std::string(legacyTextPrefix(name, kMaxCommonSectionNameWidth));
}

int32_t IniFileObject::GetColumnSize(ColumnList list, size_t index) const {
    if (index >= ColumnCount(list))
        return 0;
    return m_common.columnSizes[static_cast<size_t>(list)][index];
}

void IniFileObject::SetColumnSize(ColumnList list, size_t index, int32_t width) {
    if (index < ColumnCount(list))
        m_common.columnSizes[static_cast<size_t>(list)][index] = width;
}

int32_t IniFileObject::GetColumnOrder(ColumnList list, size_t index) const {
    if (index >= ColumnCount(list))
        return 0;
    return m_common.columnOrders[static_cast<size_t>(list)][index];
}

void IniFileObject::SetColumnOrder(ColumnList list, size_t index, int32_t column) {
    if (index < ColumnCount(list))
        m_common.columnOrders[static_cast<size_t>(list)][index] = column;
}

void IniFileObject::SetWindowRect(const WindowRect& rect) {
    if (rect.top >= 0 && rect.right >= 0)
        m_common.window = rect;
}

void IniFileObject::SetMessageFlag(size_t index) {
    if (index < kMessageFlagCount)
        m_common.messageFlags[index] = 1;
}

int32_t IniFileObject::GetMessageFlag(size_t index) const {
    return index < kMessageFlagCount ? m_common.messageFlags[index] : 0;
}

void IniFileObject::AddPacketFilter(const PacketFilter& filter) {
    addWithId(m_packetFilters, filter);
}

bool IniFileObject::InsertPacketFilter(int position, const PacketFilter& filter) {
    return insertAt(m_packetFilters, position, filter);
}

void IniFileObject::AssignFreePacketFilterIds() {
    // One pass, however many filters wait for an ID.
    IdSet used = usedIds(m_packetFilters);
    for (const auto& f : m_packetFilters) {
        if (f->id != 0)
            continue;
        f->id = smallestFree(used);
        if (f->id != 0)
            used.set(static_cast<size_t>(f->id));
    }
}

bool IniFileObject::SwapPacketFilters(int a, int b) {
    return swapAt(m_packetFilters, a, b);
}

bool IniFileObject::RemovePacketFilter(int position, Messages& messages) {
    return removeAt(m_packetFilters, position, messages);
}

PacketFilter* IniFileObject::FindPacketFilterById(int32_t id) {
    return findById(m_packetFilters, id);
}

const PacketFilter* IniFileObject::FindPacketFilterById(int32_t id) const {
    return findById(m_packetFilters, id);
}

int IniFileObject::AvailablePacketFilterCount() const {
    return static_cast<int>(std::count_if(m_packetFilters.begin(), m_packetFilters.end(),
                                          [](const auto& f) { return f->available == 1; }));
}

PacketFilter* IniFileObject::PacketFilterAt(int position) {
    return at(m_packetFilters, position);
}

const PacketFilter* IniFileObject::PacketFilterAt(int position) const {
    return at(m_packetFilters, position);
}

std::optional<IniFileObject::AvailableFilter> IniFileObject::NthAvailablePacketFilter(int n) {
    if (n < 0)
        return std::nullopt;
    int position = 0;
    for (const auto& f : m_packetFilters) {
        if (f->available == 1 && n-- == 0)
            return AvailableFilter{f.get(), position};
        ++position;
    }
    return std::nullopt;
}

int IniFileObject::IndexOfPacketFilterId(int32_t id) const {
    if (id == 0)
        return -1;
    for (size_t i = 0; i < m_packetFilters.size(); ++i)
        if (m_packetFilters[i]->id == id)
            return static_cast<int>(i);
    return -1;
}

int32_t IniFileObject::IdAtPosition(int position) const {
    const PacketFilter* f = PacketFilterAt(position);
    return f == nullptr ? 0 : f->id;
}

bool IniFileObject::RefreshLocalAddresses(const AdapterList& adapters) {
    bool changed = false;
    for (const auto& f : m_packetFilters) {
        followAdapter(*f, adapters);
        if (f->isMyIp != 1)
            continue;
        const uint32_t address = adapters.addressByIndex(f->adapterIndex);
        if (address != 0 && address != f->myIp) {
            f->myIp = address;
            changed = true;
        }
    }
    return changed;
}

void IniFileObject::AddDynamicFilter(const DynamicFilter& filter) {
    addWithId(m_dynamicFilters, filter);
}

bool IniFileObject::InsertDynamicFilter(int position, const DynamicFilter& filter) {
    return insertAt(m_dynamicFilters, position, filter);
}

bool IniFileObject::SwapDynamicFilters(int a, int b) {
    return swapAt(m_dynamicFilters, a, b);
}

bool IniFileObject::RemoveDynamicFilter(int position, Messages& messages) {
    return removeAt(m_dynamicFilters, position, messages);
}

DynamicFilter* IniFileObject::FindDynamicFilterById(int32_t id) {
    return findById(m_dynamicFilters, id);
}

const DynamicFilter* IniFileObject::FindDynamicFilterById(int32_t id) const {
    return findById(m_dynamicFilters, id);
}

DynamicFilter* IniFileObject::DynamicFilterAt(int position) {
    return at(m_dynamicFilters, position);
}

const DynamicFilter* IniFileObject::DynamicFilterAt(int position) const {
    return at(m_dynamicFilters, position);
}

} // namespace tavrin::settings
