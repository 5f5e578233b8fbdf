// The default command set must run on this system and end by itself. Each command
// runs for real against the loopback address, split into words the way command
// lines are split for running (blanks separate, double quotes group).
#include "ExternalCommandIni.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using tavrin::commands::ExternalCommandIni;

extern char** environ;

namespace {

std::string fill(std::string line) {
    for (const char* placeholder : {"%RemoteAddr%", "%SrcAddr%", "%DestAddr%", "%UserIn%"}) {
        const std::string value =
            std::string(placeholder) == "%UserIn%" ? "tavrin test" : "127.0.0.1";
        for (size_t at; (at = line.find(placeholder)) != std::string::npos;)
            line.replace(at, std::strlen(placeholder), value);
    }
    return line;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::string word;
    bool quoted = false;
    bool inWord = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord)
                out.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord)
        out.push_back(word);
    return out;
}

// The exit status, or -1 when the command did not end within the grace period (a
// hang, not a timing check) or could not start.
int run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    for (int tick = 0; tick < 3000; ++tick) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ::usleep(100 * 1000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

} // namespace

TEST(DefaultCommands, EveryCommandLineRunsAndEndsByItself) {
    EXPECT_EQ(words("logger -n 127.0.0.1 \"tavrin test\""),
              (std::vector<std::string>{"logger", "-n", "127.0.0.1", "tavrin test"}));
    for (const auto& command : ExternalCommandIni::defaultCommands()) {
        const std::string line = fill(command.commandLine);
        EXPECT_EQ(run(words(line)), 0) << command.name << ": " << line;
    }
}
