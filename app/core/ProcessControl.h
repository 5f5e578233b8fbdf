// Starting and watching child processes without a shell: system tools the program
// relies on (modprobe, iptables) and the daemon.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tavrin::core {

// The path of an executable: a name holding "/" as it stands, else the first match
// in PATH, then in the system folders (/usr/sbin, /sbin, /usr/bin, /bin). Empty
// when there is none.
std::string findExecutable(const std::string& name);

// Runs argv[0] with its arguments, its standard streams on /dev/null, and waits for
// it. Returns its exit status, or -1 with `error` set when it could not be run or
// was killed by a signal.
int runCommand(const std::vector<std::string>& argv, std::string& error);
// The same with standard output and error on `outputFd` (/dev/null when negative).
int runCommand(const std::vector<std::string>& argv, int outputFd, std::string& error);

// Starts argv[0] in a session of its own, detached from the caller's terminal, with
// standard input on /dev/null and standard output and error on `outputFd`, with
// default signal dispositions and nothing blocked. Returns its pid, or -1 with
// `error` set.
pid_t spawnDetached(const std::vector<std::string>& argv, int outputFd, std::string& error);

// The kernel's start time of a process (clock ticks since boot), 0 when there is
// no such process. With the pid it names one process for good.
uint64_t processStartTime(pid_t pid);

// Whether the process that had `startTime` exists and is stopped (SIGSTOP, or held
// by a tracer), so that it can answer nothing until it is continued.
bool processStopped(pid_t pid, uint64_t startTime);

// Whether the process that had `startTime` still runs. Reaps it first when it is a
// child of ours that has ended.
bool processAlive(pid_t pid, uint64_t startTime);

} // namespace tavrin::core
