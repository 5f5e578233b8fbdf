// A program for the external command tests to run: it shows what it was given and
// behaves as the test needs. command_child MODE [ARGS...]
//   argv ARGS...  prints each argument as [ARG] on a line of its own
//   lines N       prints "line 1" to "line N", each flushed on its own
//   gate PATH     prints "before", waits until PATH exists, prints "after"
//   ids           prints uid, gid, the groups, HOME and the current folder
//   fds           prints its open descriptors but the one that lists them
//   session       prints whether it leads its own session and process group
//   stdin         prints how many bytes standard input gave before its end
//   stderr TEXT   writes TEXT to standard error
//   bytes HEX...  writes each HEX group as bytes, pausing between the groups
//   stubborn      ignores SIGTERM, starts a child that ignores it too, prints both
//                 process ids and waits for ever
//   leave MODE    starts a child that outlives it holding the output, prints the
//                 child's process id and ends; the child then sleeps (quiet) or
//                 writes without end (flood)
//   flood         writes numbered lines without end
//   flood-line    writes one line without end
#include <dirent.h>
#include <grp.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void printLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: command_child MODE [ARGS...]\n");
        return 2;
    }
    const std::string mode = argv[1];
    if (mode == "argv") {
        for (int i = 2; i < argc; ++i)
            printLine(std::string("[") + argv[i] + "]");
    } else if (mode == "lines" && argc == 3) {
        const int count = std::atoi(argv[2]);
        for (int i = 1; i <= count; ++i) {
            printLine("line " + std::to_string(i));
            ::usleep(2000);
        }
    } else if (mode == "gate" && argc == 3) {
        printLine("before");
        while (::access(argv[2], F_OK) != 0)
            ::usleep(10 * 1000);
        printLine("after");
    } else if (mode == "ids") {
        std::vector<gid_t> groups(static_cast<size_t>(::getgroups(0, nullptr)));
        const int n = ::getgroups(static_cast<int>(groups.size()), groups.data());
        std::string list;
        for (int i = 0; i < n; ++i)
            list += (i ? " " : "") + std::to_string(groups[static_cast<size_t>(i)]);
        char folder[4096] = "";
        if (::getcwd(folder, sizeof folder) == nullptr)
            folder[0] = '?', folder[1] = '\0';
        const char* home = std::getenv("HOME");
        printLine("uid " + std::to_string(::getuid()) + " " + std::to_string(::geteuid()));
        printLine("gid " + std::to_string(::getgid()) + " " + std::to_string(::getegid()));
        printLine("groups " + list);
        printLine(std::string("home ") + (home ? home : ""));
        printLine(std::string("folder ") + folder);
    } else if (mode == "fds") {
        DIR* dir = ::opendir("/proc/self/fd");
        if (dir == nullptr)
            return 1;
        std::string list;
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == ::dirfd(dir))
                continue;
            list += std::string(list.empty() ? "" : " ") + entry->d_name;
        }
        ::closedir(dir);
        printLine("fds " + list);
    } else if (mode == "session") {
        printLine(std::string("leader ") + (::getsid(0) == ::getpid() ? "yes" : "no") + " " +
                  (::getpgrp() == ::getpid() ? "yes" : "no"));
    } else if (mode == "stdin") {
        char buffer[256];
        size_t total = 0;
        for (ssize_t n; (n = ::read(0, buffer, sizeof buffer)) > 0;)
            total += static_cast<size_t>(n);
        printLine("stdin " + std::to_string(total));
    } else if (mode == "stderr" && argc == 3) {
        std::fprintf(stderr, "%s\n", argv[2]);
    } else if (mode == "bytes") {
        for (int i = 2; i < argc; ++i) {
            std::string bytes;
            for (const char* h = argv[i]; h[0] && h[1]; h += 2)
                bytes += static_cast<char>(hexValue(h[0]) * 16 + hexValue(h[1]));
            std::fwrite(bytes.data(), 1, bytes.size(), stdout);
            std::fflush(stdout);
            ::usleep(150 * 1000);
        }
    } else if (mode == "stubborn") {
        std::signal(SIGTERM, SIG_IGN);
        const pid_t child = ::fork();
        if (child == 0) {
            for (;;)
                ::pause();
        }
        printLine("pids " + std::to_string(::getpid()) + " " + std::to_string(child));
        for (;;)
            ::pause();
    } else if (mode == "leave" && argc == 3) {
        const pid_t parent = ::getpid();
        const bool flood = std::string(argv[2]) == "flood";
        const pid_t child = ::fork();
        if (child == 0) {
            while (::getppid() == parent)
                ::usleep(1000);
            for (unsigned long i = 0; flood; ++i)
                std::printf("left behind %lu\n", i);
            ::sleep(600);
            return 0;
        }
        printLine("child " + std::to_string(child));
    } else if (mode == "flood") {
        for (unsigned long i = 0;; ++i)
            std::printf("flood line %lu\n", i);
    } else if (mode == "flood-line") {
        for (;;)
            std::fputs("0123456789", stdout);
    } else {
        std::fprintf(stderr, "command_child: unknown mode %s\n", mode.c_str());
        return 2;
    }
    return 0;
}
