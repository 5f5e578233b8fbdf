// A small stand-in for the daemon, for the service-manager tests: a real process
// that speaks the device's framing but lets a test choose states the real daemon
// never shows (another version, an early exit, a daemon that never answers or
// ignores SIGTERM). Usage:
//   core_standin_daemon --device PATH [--version N] [--exit STATUS] [--silent]
//                       [--ignore-term] [--fail CODE] [--record FILE]
//                       [--queue N] [--chains PREFIX]   (taken and ignored)
//   core_standin_daemon --remove --note FILE [...]     (a clean-up run: appends its
//                       command line to FILE and ends)
#include "OvlankProtocol.h"
#include "ReadAll.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

using tavrin::core::test::readAll;

volatile std::sig_atomic_t g_stop = 0;
void onTerm(int) {
    g_stop = 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string device;
    std::string record;
    uint32_t version = ovlank::kDriverVersion;
    uint32_t failing = 0;
    bool silent = false;
    bool ignoreTerm = false;
    bool remove = false;
    std::string note;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--device" && hasValue) {
            device = argv[++i];
        } else if (a == "--version" && hasValue) {
            version = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 0));
        } else if (a == "--exit" && hasValue) {
            std::fprintf(stderr, "stand-in: told to exit\n");
            return std::atoi(argv[++i]);
        } else if (a == "--fail" && hasValue) {
            failing = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 0));
        } else if (a == "--record" && hasValue) {
            record = argv[++i];
        } else if ((a == "--queue" || a == "--chains") && hasValue) {
            ++i;
        } else if (a == "--note" && hasValue) {
            note = argv[++i];
        } else if (a == "--remove") {
            remove = true;
        } else if (a == "--silent") {
            silent = true;
        } else if (a == "--ignore-term") {
            ignoreTerm = true;
        } else {
            std::fprintf(stderr, "stand-in: unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    if (remove) {
        std::FILE* f = std::fopen(note.c_str(), "a");
        if (f == nullptr)
            return 1;
        for (int i = 1; i < argc; ++i)
            std::fprintf(f, i + 1 < argc ? "%s " : "%s\n", argv[i]);
        std::fclose(f);
        return 0;
    }
    std::signal(SIGTERM, ignoreTerm ? SIG_IGN : onTerm);
    std::signal(SIGPIPE, SIG_IGN);
    if (silent || device.empty()) {
        while (g_stop == 0)
            ::pause();
        return 0;
    }

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (device.size() >= sizeof address.sun_path)
        return 3;
    std::memcpy(address.sun_path, device.data(), device.size());
    ::unlink(device.c_str());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (listener < 0 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0) {
        std::fprintf(stderr, "stand-in: cannot listen on %s: %s\n", device.c_str(),
                     std::strerror(errno));
        return 4;
    }
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    while (g_stop == 0) {
        if (::poll(fds.data(), fds.size(), 200) <= 0)
            continue;
        if ((fds[0].revents & POLLIN) != 0) {
            const int client = ::accept(listener, nullptr, nullptr);
            if (client >= 0)
                fds.push_back({client, POLLIN, 0});
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            const int fd = fds[i].fd;
            ovlank::WireRequestHead head{};
            std::vector<uint8_t> input;
            bool ok = readAll(fd, &head, sizeof head) &&
                      head.inputLength <= ovlank::kMaxFrameLength &&
                      head.outputLength <= ovlank::kMaxFrameLength;
            if (ok) {
                input.resize(head.inputLength);
                ok = readAll(fd, input.data(), input.size());
            }
            if (!ok) {
                ::close(fd);
                fds.erase(fds.begin() + static_cast<long>(i));
                --i;
                continue;
            }
            if (!record.empty()) {
                if (std::FILE* f = std::fopen(record.c_str(), "a")) {
                    std::fprintf(f, "%s %u\n",
                                 ovlank::controlCodeName(head.code)
                                     ? ovlank::controlCodeName(head.code)
                                     : "?",
                                 head.inputLength);
                    std::fclose(f);
                }
            }
            ovlank::WireReplyHead reply{ovlank::STATUS_SUCCESS, 0};
            std::vector<uint8_t> output;
            if (head.code == failing) {
                reply.status = ovlank::STATUS_UNSUCCESSFUL;
            } else if (head.code == ovlank::GET_VERSION) {
                if (head.outputLength < 4) {
                    reply.status = ovlank::STATUS_INVALID_PARAMETER;
                } else {
                    output.resize(4);
                    std::memcpy(output.data(), &version, 4);
                }
            } else if (head.code == ovlank::CLEAR_BANDWIDTH && head.outputLength >= 8) {
                output.assign(8, 0);
            }
            reply.information = static_cast<uint32_t>(output.size());
            if (::write(fd, &reply, sizeof reply) != sizeof reply ||
                (!output.empty() && ::write(fd, output.data(), output.size()) !=
                                        static_cast<ssize_t>(output.size()))) {
                ::close(fd);
                fds.erase(fds.begin() + static_cast<long>(i));
                --i;
            }
        }
    }
    ::unlink(device.c_str());
    return 0;
}
