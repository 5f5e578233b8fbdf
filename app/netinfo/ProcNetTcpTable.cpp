#include "ProcNetTcpTable.h"

#include "NumberText.h"

#include <cerrno>
#include <cstring>
#include <optional>

#include <arpa/inet.h>
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
// tcp6 prints the four 32-bit words of an address that way, one after the other.
// False when the text does not read; `ipv4` false for an IPv6 address that is
// neither IPv4-mapped nor ::.
bool parseEndpoint(std::string_view text, ProcTcpFile file, uint32_t& address, uint32_t& port,
                   bool& ipv4, bool& unspecified) {
    const size_t words = file == ProcTcpFile::tcp6 ? 4 : 1;
    const size_t colon = words * 8;
    if (text.size() != colon + 5 || text[colon] != ':')
        return false;
    uint32_t word[4] = {};
    for (size_t i = 0; i < words; ++i) {
        const auto w = parseHex(text.substr(i * 8, 8), 8, 8);
        if (!w)
            return false;
        word[i] = static_cast<uint32_t>(*w);
    }
    const auto p = parseHex(text.substr(colon + 1), 4, 4);
    if (!p)
        return false;
    port = htons(static_cast<uint16_t>(*p));
    if (words == 1) {
        address = word[0];
        ipv4 = true;
        unspecified = false;
        return true;
    }
    unspecified = isUnspecifiedIpv6(word);
    ipv4 = unspecified || isIpv4Mapped(word);
    address = word[3];
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

bool parseProcNetTcp(std::string_view text, ProcTcpFile file, std::vector<TcpRow>& out,
                     std::string& error) {
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
        TcpRow row;
        bool localIpv4 = false;
        bool remoteIpv4 = false;
        bool localAny = false;
        bool remoteAny = false;
        if (!parseEndpoint(fields[1], file, row.localAddr, row.localPort, localIpv4, localAny))
            return fail("bad local address");
        if (!parseEndpoint(fields[2], file, row.remoteAddr, row.remotePort, remoteIpv4, remoteAny))
            return fail("bad remote address");
        const auto state = parseHex(fields[3], 1, 2);
        if (!state)
            return fail("bad state");
        const auto inode = parseWholeDecimal(fields[9]);
        if (!inode)
            return fail("bad inode");
        // An IPv6 socket carries IPv4 when its local address is mapped, and so is
        // its remote one unless it listens.
        if (file == ProcTcpFile::tcp6 && (!localIpv4 || localAny || !remoteIpv4))
            continue;
        row.state = translateKernelTcpState(static_cast<unsigned>(*state));
        row.inode = *inode;
        row.socket.ipv6 = file == ProcTcpFile::tcp6;
        out.push_back(row);
    }
    return true;
}

namespace {

// Reads one table of the calling thread's namespace into `text`. ENOENT when the
// kernel has no such table (IPv6 off), else 0 or an errno value.
int readTableText(const char* name, std::string& text) {
    text.clear();
    // The calling thread's namespace, like the socket list of the other source.
    int fd = ::open((std::string("/proc/thread-self/net/") + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fd = ::open((std::string("/proc/net/") + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return error;
        }
        if (n == 0)
            break;
        text.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return 0;
}

} // namespace

bool ProcNetTcpTable::read(std::vector<TcpRow>& rows, std::string& error) {
    rows.clear();
    struct Table {
        const char* name;
        ProcTcpFile file;
        std::vector<TcpRow>& into;
    };
    for (const Table& table :
         {Table{"tcp", ProcTcpFile::tcp, rows}, Table{"tcp6", ProcTcpFile::tcp6, m_ipv6Rows}}) {
        const int status = readTableText(table.name, m_text);
        if (status == ENOENT && table.file == ProcTcpFile::tcp6) {
            m_ipv6Rows.clear();
            continue;
        }
        if (status != 0) {
            error = std::string("/proc/net/") + table.name + ": " + std::strerror(status);
            rows.clear();
            return false;
        }
        if (!parseProcNetTcp(m_text, table.file, table.into, error)) {
            error = std::string("/proc/net/") + table.name + " " + error;
            rows.clear();
            return false;
        }
    }
    rows.insert(rows.end(), m_ipv6Rows.begin(), m_ipv6Rows.end());
    return true;
}

} // namespace tavrin
