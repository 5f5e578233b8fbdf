// Real traffic between the test hosts: sockets made inside a namespace, used
// from the test's own threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ovlank::test {

// A bound socket inside `ns` (port 0: any); -1 on failure.
int udpSocket(const std::string& ns, const std::string& address, uint16_t port);
int tcpListener(const std::string& ns, const std::string& address, uint16_t port);
// Connects from inside `ns`; -1 when no connection came about within the time.
int tcpConnect(const std::string& ns, const std::string& address, uint16_t port,
               int timeoutMilliseconds);
uint16_t localPort(int fd);

bool sendDatagram(int fd, const std::string& address, uint16_t port, size_t payloadSize);
// Counts datagrams until `expected` arrived or nothing came for `quietMilliseconds`.
size_t receiveDatagrams(int fd, size_t expected, int quietMilliseconds);

bool sendAll(int fd, const void* data, size_t size);
// Reads until `size` bytes arrived, end of stream, or `timeoutMilliseconds` of silence.
size_t receiveBytes(int fd, size_t size, int timeoutMilliseconds);
int acceptWithin(int listener, int timeoutMilliseconds);

// Wire size of a UDP datagram with this payload: IP + UDP headers + Ethernet.
constexpr size_t udpWireSize(size_t payload) {
    return payload + 20 + 8 + 14;
}

} // namespace ovlank::test
