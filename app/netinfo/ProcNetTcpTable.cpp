#include "ProcNetTcpTable.h"

#include "NumberText.h"

#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace tavrin {

namespace {

std::optional<uint64_t> parseHex(std::string_view text, size_t minDigits, size_t maxDigits) {
    if (text.size() < minDigits || text.size() > maxDigits)
        return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else
            return std::nullopt;
        value = (value << 4) | digit;
    }
    return value;
}

// "0100007F:0050": the address as the kernel prints its stored (network-order) value
// in host order, so the parsed number is the stored value; the port in host order.
bool parseEndpoint(std::string_view text, uint32_t& address, uint32_t& port) {
    if (text.size() != 13 || text[8] != ':')
        return false;
    const auto a = parseHex(text.substr(0, 8), 8, 8);
    const auto p = parseHex(text.substr(9), 4, 4);
    if (!a || !p)
        return false;
    address = static_cast<uint32_t>(*a);
    const auto hostPort = static_cast<uint16_t>(*p);
    port = static_cast<uint16_t>((hostPort >> 8) | (hostPort << 8));
    return true;
}

// Splits at blanks; at most `max` fields, the rest ignored.
size_t splitFields(std::string_view line, std::string_view* fields, size_t max) {
    size_t count = 0;
    size_t i = 0;
    while (i < line.size() && count < max) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            fields[count++] = line.substr(start, i - start);
    }
    return count;
}

} // namespace

bool parseProcNetTcp(std::string_view text, std::vector<ProcTcpEntry>& out, std::string& error) {
    out.clear();
    size_t lineNumber = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++lineNumber;

        // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode
        std::string_view fields[10];
        const size_t count = splitFields(line, fields, 10);
        if (count == 0)
            continue;
        if (lineNumber == 1 && fields[0] == "sl")
            continue;
        auto fail = [&](const char* what) {
            error = "line " + std::to_string(lineNumber) + ": " + what;
            return false;
        };
        if (count < 10)
            return fail("too few fields");
        if (fields[0].back() != ':' ||
            !parseWholeDecimal(fields[0].substr(0, fields[0].size() - 1)))
            return fail("bad slot number");
        ProcTcpEntry entry;
        if (!parseEndpoint(fields[1], entry.row.localAddr, entry.row.localPort))
            return fail("bad local address");
        if (!parseEndpoint(fields[2], entry.row.remoteAddr, entry.row.remotePort))
            return fail("bad remote address");
        const auto state = parseHex(fields[3], 1, 2);
        if (!state)
            return fail("bad state");
        const auto inode = parseWholeDecimal(fields[9]);
        if (!inode)
            return fail("bad inode");
        entry.row.state = translateKernelTcpState(static_cast<unsigned>(*state));
        entry.inode = *inode;
        out.push_back(entry);
    }
    return true;
}

bool readProcNetTcp(std::vector<ProcTcpEntry>& out, std::string& error) {
    out.clear();
    // The calling thread's namespace, like the socket list of the other source.
    int fd = ::open("/proc/thread-self/net/tcp", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fd = ::open("/proc/net/tcp", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::string("/proc/net/tcp: ") + std::strerror(errno);
        return false;
    }
    std::string text;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::string("/proc/net/tcp: ") + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        text.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!parseProcNetTcp(text, out, error)) {
        error = "/proc/net/tcp " + error;
        return false;
    }
    return true;
}

bool ProcNetTcpTable::read(std::vector<TcpRow>& rows, std::string& error) {
    rows.clear();
    if (!readProcNetTcp(m_entries, error))
        return false;
    rows.reserve(m_entries.size());
    for (const ProcTcpEntry& entry : m_entries)
        rows.push_back(entry.row);
    return true;
}

} // namespace tavrin
