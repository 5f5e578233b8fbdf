// tavrinctl connections: the TCP connection table as the connection monitor shows
// it, once or refreshed every second.
#include "ArgumentParser.h"
#include "ConnectionText.h"
#include "JsonOutput.h"
#include "Messages.h"
#include "NetworkInfo.h"
#include "PlainText.h"
#include "PortSpec.h"
#include "ServiceNameTable.h"
#include "Subcommand.h"
#include "TcpConnection.h"

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <unistd.h>

namespace tavrin::ctl {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void onSignal(int) {
    g_interrupted = 1;
}

struct Options {
    bool json = false;
    bool watch = false;
    bool numeric = false;
    long count = 0; // tables to print with --watch; 0 means until interrupted
};

// How long a single listing waits for host names before it shows them as pending.
constexpr auto kNameWait = std::chrono::seconds(3);

enum Column : size_t {
    kLocalAddress,
    kLocalPort,
    kRemoteAddress,
    kRemoteHost,
    kRemotePort,
    kState,
    kDuration,
    kProcessName,
    kProcessId,
    kProcessPath,
    kColumnCount
};

struct ColumnInfo {
    const char* heading;
    bool right;
};

// The monitor's headings and alignments, in its column order.
constexpr std::array<ColumnInfo, kColumnCount> kColumns = {{
    {"ローカルIPアドレス", false},
    {"ローカルポート", true},
    {"リモートIPアドレス", false},
    {"リモートホスト名", false},
    {"リモートポート", true},
    {"状態", false},
    {"接続時間", true},
    {"プロセス名", false},
    {"プロセスID", true},
    {"プロセスのパス", false},
}};

using Row = std::array<std::string, kColumnCount>;

// Terminal cells a UTF-8 text takes: two for East Asian wide characters, one for
// everything else (each byte that is not part of a well-formed sequence counts one).
size_t displayWidth(std::string_view text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t length = utf8SequenceLength(text.substr(i));
        if (length == 0) {
            ++width;
            ++i;
            continue;
        }
        const auto lead = static_cast<unsigned char>(text[i]);
        uint32_t code = length == 1   ? lead
                        : length == 2 ? (lead & 0x1Fu)
                        : length == 3 ? (lead & 0x0Fu)
                                      : (lead & 0x07u);
        for (size_t k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        const bool wide =
            (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
            (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
            (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
            (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x20000 && code <= 0x3FFFD);
        width += wide ? 2 : 1;
        i += length;
    }
    return width;
}

std::string hostText(NetworkInfo& info, const TcpConnection& c, const Options& options) {
    if (options.numeric)
        return {};
    std::string name = info.resolver().lookup(c.remoteAddr);
    return name.empty() ? std::string(kHostNamePending) : name;
}

Row makeRow(NetworkInfo& info, const TcpConnection& c, const Options& options) {
    Row row;
    row[kLocalAddress] = dottedAddress(c.localAddr);
    row[kLocalPort] = std::to_string(portHostOrder(c.localPort));
    row[kRemoteAddress] = dottedAddress(c.remoteAddr);
    row[kRemoteHost] = hostText(info, c, options);
    row[kRemotePort] = FormatPortLabel(PortRange::single(portHostOrder(c.remotePort)));
    row[kState] = std::string(tcpStateText(c.state));
    row[kDuration] = connectionDurationText(c.age);
    row[kProcessName] = info.processTable().processDisplayName(c.processId);
    row[kProcessId] = processIdText(c.processId);
    row[kProcessPath] = std::string(info.processTable().processPath(c.processId));
    return row;
}

void printTable(NetworkInfo& info, const Options& options, std::string& out) {
    std::vector<Row> rows;
    Row headings;
    for (size_t i = 0; i < kColumnCount; ++i)
        headings[i] = kColumns[i].heading;
    rows.push_back(headings);
    for (const TcpConnection& c : info)
        rows.push_back(makeRow(info, c, options));

    std::array<size_t, kColumnCount> widths{};
    for (const Row& row : rows) {
        for (size_t i = 0; i < kColumnCount; ++i)
            widths[i] = std::max(widths[i], displayWidth(row[i]));
    }
    for (const Row& row : rows) {
        std::string line;
        for (size_t i = 0; i < kColumnCount; ++i) {
            if (options.numeric && i == kRemoteHost)
                continue;
            const std::string padding(widths[i] - displayWidth(row[i]), ' ');
            if (!line.empty())
                line += "  ";
            if (kColumns[i].right)
                line += padding + row[i];
            else if (i + 1 < kColumnCount)
                line += row[i] + padding;
            else
                line += row[i]; // no blanks at the end of a line
        }
        out += line;
        out += '\n';
    }
}

void printJson(NetworkInfo& info, const Options& options, std::string& out) {
    Json rows = Json::array();
    for (const TcpConnection& c : info) {
        const std::string host =
            options.numeric ? std::string() : info.resolver().lookup(c.remoteAddr);
        rows.push_back({{"state", c.state},
                        {"localPort", portHostOrder(c.localPort)},
                        {"remotePort", portHostOrder(c.remotePort)},
                        {"age", c.age},
                        {"processId", c.processId},
                        {"stateText", tcpStateText(c.state)},
                        {"localAddr", dottedAddress(c.localAddr)},
                        {"remoteAddr", dottedAddress(c.remoteAddr)},
                        {"remoteHost", textOrNull(host)},
                        {"remoteService",
                         textOrNull(ServiceNameTable::nameOfPort(portHostOrder(c.remotePort)))},
                        {"duration", connectionDurationText(c.age)},
                        {"processName", info.processTable().processDisplayName(c.processId)},
                        {"processPath", info.processTable().processPath(c.processId)}});
    }
    out += jsonLine(rows);
}

// Reads the command line into `options`; the exit status when the command ends
// here (--help, or a bad command line), else nothing.
std::optional<int> parseOptions(int argc, char** argv, Options& options) {
    cli::ArgumentParser line(
        "tavrinctl connections", {"[--json] [-n] [--watch [--count N]]"},
        "Lists the TCP connections of this network namespace with their processes, as\n"
        "Tavrin's connection page shows them, once or every second.");
    CLI::App& app = line.app();
    app.add_flag("--json", options.json, "print a JSON array (one per line with --watch)");
    app.add_flag("-n,--numeric", options.numeric,
                 "leave host names out: ask the name service nothing");
    CLI::Option* watch =
        app.add_flag("--watch", options.watch, "print the table every second until interrupted");
    app.add_option("--count", options.count, "with --watch: end after N tables")
        ->type_name("N")
        ->check([](const std::string& value) {
            char* end = nullptr;
            errno = 0;
            const long count = std::strtol(value.c_str(), &end, 10);
            return errno != 0 || end == value.c_str() || *end != '\0' || count < 1
                       ? std::string("--count needs a number of at least 1")
                       : std::string();
        })
        ->needs(watch);
    if (const auto result = line.parse(argc, argv); result != cli::ArgumentParser::Result::Run)
        return line.report(result);
    return std::nullopt;
}

void queueHostNames(NetworkInfo& info) {
    for (const TcpConnection& c : info) {
        if (info.resolver().lookup(c.remoteAddr).empty())
            info.resolver().enqueue(c.remoteAddr);
    }
}

// Up to kNameWait for the queued names, in steps short enough to notice Ctrl-C.
void waitForNames(NetworkInfo& info) {
    const auto end = std::chrono::steady_clock::now() + kNameWait;
    while (!g_interrupted && std::chrono::steady_clock::now() < end) {
        if (info.resolver().waitUntilIdle(std::chrono::milliseconds(100)))
            return;
    }
}

int run(int argc, char** argv) {
    Options options;
    if (const auto status = parseOptions(argc, argv, options))
        return *status;

    // The first Ctrl-C ends the listing after the table in hand; the handler then
    // gives way, so a second one ends the program at once, whatever it waits for.
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    StreamMessages messages(stderr, Answer::No);
    NetworkInfo::Options networkOptions;
    // No redraw to protect here: names are looked up as soon as they are asked for.
    networkOptions.resolverPause = std::chrono::milliseconds(0);
    // -n asks the name service nothing at all; nor does a listing check this
    // machine's own name, which only the window's start-up reports.
    networkOptions.resolveNames = !options.numeric;
    networkOptions.checkLocalHost = false;
    NetworkInfo info(messages, networkOptions);

    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    for (long printed = 0; !g_interrupted;) {
        if (!info.refresh()) {
            std::fprintf(stderr, "tavrinctl connections: cannot read the TCP table: %s\n",
                         info.lastError().c_str());
            return kExitFailure;
        }
        if (!options.numeric) {
            queueHostNames(info);
            if (!options.watch)
                waitForNames(info);
        }
        std::string out;
        if (options.watch && !options.json)
            out += terminal ? "\x1b[H\x1b[2J" : (printed > 0 ? "\n" : "");
        if (options.json)
            printJson(info, options, out);
        else
            printTable(info, options, out);
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
        ++printed;
        if (!options.watch || (options.count != 0 && printed >= options.count))
            break;
        // A second between tables, in steps short enough to notice an interrupt.
        for (int step = 0; step < 10 && !g_interrupted; ++step)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return kExitOk;
}

} // namespace

extern constinit const Subcommand kConnectionsCommand{
    "connections", "[--json] [-n] [--watch [--count N]]",
    "list the TCP connections with their processes (every second with --watch)", run};

} // namespace tavrin::ctl
