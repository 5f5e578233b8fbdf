// A process for the network information tests to own sockets. Reads one command per
// line on standard input and answers one line on standard output; ends when its
// input ends or on "exit".
//
//   listen            listen on 127.0.0.1, any port       -> "port N"
//   accept            accept one connection               -> "ok"
//   connect N         connect to 127.0.0.1:N              -> "port LOCAL"
//   reconnect N       close the first connection kept, connect again (the new
//                     socket takes the closed one's descriptor number) -> "port LOCAL"
//   fork              a child that keeps every descriptor and waits to be killed
//                                                         -> "child PID"
//   unix-listen NAME  listen on the abstract unix socket NAME -> "ok"
//   pass NAME         hand the listening socket to NAME and close it here -> "ok"
//   receive           take a socket from the unix listener, keep it -> "ok"
//   exit              end at once
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

int g_listener = -1;
int g_unixListener = -1;
std::vector<int> g_kept;

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

uint16_t localPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

sockaddr_un abstractAddress(const std::string& name, socklen_t& length) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(),
                std::min(name.size(), sizeof(address.sun_path) - 2));
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return address;
}

std::string fail(const char* what) {
    return std::string("error ") + what + ": " + std::strerror(errno);
}

std::string run(const std::string& command) {
    if (command == "listen") {
        g_listener = socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in address = loopback(0);
        if (bind(g_listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
            listen(g_listener, 16) != 0)
            return fail("listen");
        return "port " + std::to_string(localPort(g_listener));
    }
    if (command == "accept") {
        const int fd = accept(g_listener, nullptr, nullptr);
        if (fd < 0)
            return fail("accept");
        g_kept.push_back(fd);
        return "ok";
    }
    if (command.rfind("connect ", 0) == 0) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in address = loopback(static_cast<uint16_t>(std::stoi(command.substr(8))));
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
            return fail("connect");
        g_kept.push_back(fd);
        return "port " + std::to_string(localPort(fd));
    }
    if (command.rfind("reconnect ", 0) == 0 && !g_kept.empty()) {
        const int old = g_kept.front();
        close(old);
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in address = loopback(static_cast<uint16_t>(std::stoi(command.substr(10))));
        if (fd != old ||
            connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
            return fail("reconnect");
        g_kept.front() = fd;
        return "port " + std::to_string(localPort(fd));
    }
    if (command == "fork") {
        const pid_t child = fork();
        if (child == 0) {
            close(STDIN_FILENO);
            for (;;)
                pause();
        }
        return "child " + std::to_string(child);
    }
    if (command.rfind("unix-listen ", 0) == 0) {
        socklen_t length = 0;
        const sockaddr_un address = abstractAddress(command.substr(12), length);
        g_unixListener = socket(AF_UNIX, SOCK_STREAM, 0);
        if (bind(g_unixListener, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
            listen(g_unixListener, 1) != 0)
            return fail("unix-listen");
        return "ok";
    }
    if (command.rfind("pass ", 0) == 0) {
        socklen_t length = 0;
        const sockaddr_un address = abstractAddress(command.substr(5), length);
        const int channel = socket(AF_UNIX, SOCK_STREAM, 0);
        if (connect(channel, reinterpret_cast<const sockaddr*>(&address), length) != 0)
            return fail("pass");
        char byte = 'x';
        iovec io{&byte, 1};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &g_listener, sizeof(int));
        if (sendmsg(channel, &message, 0) != 1)
            return fail("sendmsg");
        close(channel);
        close(g_listener);
        g_listener = -1;
        return "ok";
    }
    if (command == "receive") {
        const int channel = accept(g_unixListener, nullptr, nullptr);
        if (channel < 0)
            return fail("receive");
        char byte = 0;
        iovec io{&byte, 1};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        if (recvmsg(channel, &message, 0) != 1)
            return fail("recvmsg");
        const cmsghdr* header = CMSG_FIRSTHDR(&message);
        if (header == nullptr || header->cmsg_type != SCM_RIGHTS)
            return "error no descriptor";
        int fd = -1;
        std::memcpy(&fd, CMSG_DATA(header), sizeof(int));
        g_kept.push_back(fd);
        close(channel);
        return "ok";
    }
    return "error unknown command";
}

} // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "exit")
            return 0;
        std::cout << run(line) << std::endl;
    }
    return 0;
}
