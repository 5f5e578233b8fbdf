// Serves control requests on the device socket: any number of clients, each
// checked with SO_PEERCRED, one request at a time per client, all on one thread
// with non-blocking sockets so that no client can hold up another.
#pragma once

#include "JournalLines.h"
#include "OvlankProtocol.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ovlank {

struct RequestResult;

class ControlServer final {
public:
    using Handler = std::function<RequestResult(uint32_t code, std::span<const uint8_t> input,
                                                std::span<uint8_t> output)>;
    using Log = std::function<void(tavrin::journal::Priority, const std::string& line)>;

    static constexpr size_t kMaxClients = 256;
    // The largest reply any request gets: a bandwidth reply for 64 rules, with its head.
    static constexpr size_t kMaxReplyBytes =
        sizeof(WireReplyHead) +
        std::max({sizeof(BandwidthReply), sizeof(CaptureEntry), sizeof(uint32_t)});
    // Replies a client has not read yet; past this, its further requests wait. One
    // largest reply fits, so a client that never reads costs a few hundred bytes
    // of replies, and its requests wait in its socket, not in our memory.
    static constexpr size_t kMaxPendingReplyBytes = kMaxReplyBytes;

    // `listenFd` is a listening, non-blocking stream socket; the server does not own it.
    ControlServer(int listenFd, Handler handler, Log log);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Another file descriptor to wait on in the same loop (signals, timers, wake-ups);
    // `onReadable` runs on the loop's thread whenever it is readable.
    void watch(int fd, std::function<void()> onReadable);

    // Serves until stop() is called (from any thread or from a watch callback).
    void run();
    void stop();

    size_t clientCount() const { return m_clients.size(); }

private:
    struct Client {
        int fd = -1;
        std::vector<uint8_t> input;
        std::vector<uint8_t> output;
        size_t outputSent = 0;
        bool readingPaused = false;
    };

    void acceptClients();
    void onClientEvent(int fd, uint32_t events);
    bool readFrom(Client& client);      // false: close the client
    bool serveBuffered(Client& client); // false: close the client
    bool flush(Client& client);         // false: close the client
    void updateInterest(Client& client);
    void closeClient(int fd);
    bool peerAllowed(int fd);

    int m_listenFd;
    int m_epollFd;
    int m_wakeFd;
    Handler m_handler;
    Log m_log;
    std::map<int, Client> m_clients;
    std::map<int, std::function<void()>> m_watches;
    std::vector<uint8_t> m_scratch; // every request's output buffer, taken once
    bool m_stopping = false;
};

} // namespace ovlank
