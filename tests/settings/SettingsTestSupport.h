// Shared pieces of the settings model tests: an adapter table with chosen rows
// (the machine's own adapters differ from one host to the next), reading and
// writing a model through the real file profile.
#pragma once

#include "AdapterList.h"
#include "FilePrivateProfile.h"
#include "IniFileObject.h"
#include "IniFileReader.h"
#include "IniFileWriter.h"
#include "PosixFileSystem.h"
#include "RecordingMessages.h"

#include <arpa/inet.h>
#include <iconv.h>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace tavrin::test {

inline uint32_t ip(const char* dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

// The text as the Windows version wrote it: CP932 with CR LF line ends.
inline std::string toWindowsFile(std::string_view utf8) {
    std::string crlf;
    for (char c : utf8) {
        if (c == '\n')
            crlf.push_back('\r');
        crlf.push_back(c);
    }
    iconv_t cd = ::iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("no CP932 converter");
    std::string out(crlf.size() * 2, '\0');
    char* in = crlf.data();
    size_t inLeft = crlf.size();
    char* to = out.data();
    size_t toLeft = out.size();
    const size_t rc = ::iconv(cd, &in, &inLeft, &to, &toLeft);
    ::iconv_close(cd);
    if (rc == static_cast<size_t>(-1))
        throw std::runtime_error("not CP932 text");
    out.resize(out.size() - toLeft);
    return out;
}

inline std::string repeated(std::string_view piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

class FixedAdapters final : public AdapterSource {
public:
    explicit FixedAdapters(std::vector<AdapterEntry> rows) : m_rows(std::move(rows)) {}
    std::optional<std::vector<AdapterEntry>> listAdapters() override { return m_rows; }

private:
    std::vector<AdapterEntry> m_rows;
};

// none, eth0 (index 2, 192.168.1.10), wlan0 (index 3, no address).
inline std::unique_ptr<AdapterList> sampleAdapters() {
    auto list = std::make_unique<AdapterList>(std::make_unique<FixedAdapters>(
        std::vector<AdapterEntry>{{2, ip("192.168.1.10"), "eth0 (Ethernet)", "eth0"},
                                  {3, 0, "wlan0 (Wireless)", "wlan0"}}));
    list->rebuild();
    return list;
}

struct ReadResult {
    bool ok;
    settings::IniFileObject model;
    std::vector<std::string> messages;
    std::vector<RecordedMessage> recorded;
};

inline ReadResult readSettings(const std::string& file, const AdapterList& adapters) {
    settings::PosixFileSystem fs;
    settings::FilePrivateProfile profile(fs);
    RecordingMessages messages;
    settings::IniFileReader reader(profile, adapters, messages);
    ReadResult result{false, {}, {}, {}};
    result.ok = reader.ReadIniFile(result.model, file);
    result.messages = messages.texts();
    result.recorded = messages.recorded();
    return result;
}

// A full write: the file is built anew, as a full save does.
inline bool writeSettings(const settings::IniFileObject& model, const std::string& file,
                          const AdapterList& adapters, bool commonOnly = false) {
    settings::PosixFileSystem fs;
    settings::FilePrivateProfile profile(fs);
    if (!commonOnly)
        profile.beginNewFile(file);
    settings::IniFileWriter writer(profile, adapters);
    return writer.WriteIniFile(commonOnly, model, file);
}

} // namespace tavrin::test
