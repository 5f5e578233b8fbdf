// The machine's network adapters with their first IPv4 address, headed by the
// entry for no adapter. Filters keep an adapter's system index so that their own
// address can follow the adapter; the settings file keeps its name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

struct AdapterEntry {
    int32_t index = -1;   // the system's interface index; -1 for no adapter
    uint32_t address = 0; // first IPv4 address, network order; 0 when it has none
    std::string description;
    std::string name;

    bool operator==(const AdapterEntry&) const = default;
};

// Where the adapters come from. The Linux implementation asks the kernel over
// rtnetlink; tests of the list logic may hand in rows of their own.
class AdapterSource {
public:
    virtual ~AdapterSource() = default;
    // The adapters in the system's order, loopback left out; nullopt when the
    // system could not be asked.
    virtual std::optional<std::vector<AdapterEntry>> listAdapters() = 0;
};

class AdapterList final {
public:
    static constexpr int32_t kNoAdapterIndex = -1;
    static constexpr std::string_view kNoAdapterDescription = "指定無し";
    static constexpr std::string_view kNoAdapterName = "none";

    // Asks the kernel, over rtnetlink, at every rebuild.
    AdapterList();
    explicit AdapterList(std::unique_ptr<AdapterSource> source);
    ~AdapterList();
    AdapterList(const AdapterList&) = delete;
    AdapterList& operator=(const AdapterList&) = delete;

    // Replaces the whole list: the none entry, then every adapter the source
    // lists. When the source fails, only the none entry remains; returns false then.
    // Until the first call the list holds the none entry alone.
    bool rebuild();

    // Look-ups by the first matching entry; the first three fall back to entry 0.
    uint32_t addressByIndex(int32_t index) const;
    int32_t indexByAddress(uint32_t address) const;
    const std::string& nameByIndex(int32_t index) const;
    // Exact, byte-for-byte comparison; -1 when no entry has the name.
    int32_t indexByName(std::string_view name) const;

    const std::vector<AdapterEntry>& entries() const { return m_entries; }
    size_t size() const { return m_entries.size(); }
    const AdapterEntry& operator[](size_t position) const { return m_entries.at(position); }
    std::vector<AdapterEntry>::const_iterator begin() const { return m_entries.begin(); }
    std::vector<AdapterEntry>::const_iterator end() const { return m_entries.end(); }

    // The SET_LOCALIP request body: the entry count, then every entry's address
    // in list order, the none entry's 0.0.0.0 included (4 + 4 × count bytes).
    std::vector<uint8_t> localAddressListRecord() const;

    static AdapterEntry noneEntry();

private:
    std::unique_ptr<AdapterSource> m_source;
    std::vector<AdapterEntry> m_entries;
};

} // namespace tavrin
