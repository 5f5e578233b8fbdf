// One netfilter queue and the thread that reads it: packets come in headers only
// (at most 60 IP header bytes and 20 transport bytes), large GSO packets whole,
// and verdicts go back in batches without payload. With the fail-open flag the
// kernel lets a packet pass when the queue or the socket is full; the hook counts
// those from its chains' counters, since a full queue leaves no trace here.
#pragma once

#include "Engine.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <thread>

namespace ovlank {

class VerdictBatch;

inline constexpr uint32_t kQueueCopyRange = 60 + 20;
inline constexpr uint32_t kQueueMaxLength = 8192;

class NetfilterQueue final {
public:
    // `packet` is the copied part; `length` the whole packet's length.
    using Decide = std::function<Verdict(std::span<const uint8_t> packet, uint32_t length)>;
    using Fatal = std::function<void(const std::string& line)>;

    NetfilterQueue(uint16_t number, Decide decide);
    ~NetfilterQueue(); // stops the reader and unbinds the queue
    NetfilterQueue(const NetfilterQueue&) = delete;
    NetfilterQueue& operator=(const NetfilterQueue&) = delete;

    // Binds and configures the queue. Fails when another program holds it.
    bool open(std::string& error);
    // Starts the reader thread; `onFatal` is called from it if the queue breaks.
    void start(Fatal onFatal);
    // Once no new packets should arrive: decides what is still queued, then stops
    // when the kernel shows nothing waiting, or after about a second at most, when
    // packets keep coming; the kernel drops what is still queued then.
    void drainAndStop();
    // Starts that drain without waiting for it, so that several queues drain at once.
    void beginDrain();

    uint16_t number() const { return m_number; }
    uint64_t packets() const { return m_packets.load(std::memory_order_relaxed); }
    uint64_t drops() const { return m_drops.load(std::memory_order_relaxed); }
    // Packets the kernel let pass without asking us because the socket was full:
    // the gaps they leave in the packet ids.
    uint64_t bypassed() const { return m_bypassed.load(std::memory_order_relaxed); }

private:
    bool configure(std::string& error);
    int sendAndAwaitAck(std::span<const uint8_t> message); // 0, or the errno value
    void run();
    void handleDatagram(std::span<const uint8_t> datagram, VerdictBatch& batch);
    bool sendVerdicts(VerdictBatch& batch);
    void closeSocket();

    uint16_t m_number;
    Decide m_decide;
    Fatal m_onFatal;
    int m_fd = -1;
    int m_stopFd = -1;
    uint32_t m_portId = 0;
    uint32_t m_sequence = 0;
    uint32_t m_lastId = 0;
    std::thread m_thread;
    std::atomic<uint64_t> m_packets{0};
    std::atomic<uint64_t> m_drops{0};
    std::atomic<uint64_t> m_bypassed{0};
};

} // namespace ovlank
