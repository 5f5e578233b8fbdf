// A test with a network namespace of its own, made at the start and deleted at the
// end also when the test fails: `ip` commands run in it, and work runs on a thread
// that entered it while the rest of the test process stays where it was. Skipped
// without root.
#pragma once

#include "RunProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tavrin::test {

class NamespaceTest : public ::testing::Test {
protected:
    // Makes the namespace PREFIX-PID, so that runs at once do not collide.
    void makeNamespace(const std::string& prefix) {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root for network namespaces";
        m_namespace = prefix + "-" + std::to_string(::getpid());
        ASSERT_EQ(runIp({"netns", "add", m_namespace}), 0) << m_lastError;
        m_made = true;
    }
    void TearDown() override {
        if (m_made)
            runIp({"netns", "del", m_namespace});
    }

    // `ip ARGS`; its exit status, its standard error kept in m_lastError.
    int runIp(std::vector<std::string> args) {
        args.insert(args.begin(), "ip");
        const ProcessResult result = runProcess(args);
        m_lastError = result.err;
        return result.exitStatus;
    }
    // `ip -n NAMESPACE ARGS`.
    int ipIn(std::vector<std::string> args) {
        args.insert(args.begin(), {"-n", m_namespace});
        return runIp(std::move(args));
    }

    // Runs work on a thread inside the namespace; the namespace of a thread is its
    // own, so the rest of the process stays out.
    template <class Work> void inNamespace(Work work) {
        const std::string path = "/run/netns/" + m_namespace;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0) << path;
        bool entered = false;
        std::thread thread([&] {
            entered = ::setns(fd, CLONE_NEWNET) == 0;
            if (entered)
                work();
        });
        thread.join();
        ::close(fd);
        ASSERT_TRUE(entered);
    }

    std::string m_namespace;
    std::string m_lastError;

private:
    bool m_made = false;
};

} // namespace tavrin::test
