// A fresh pair of test hosts and a daemon of our own in host A for each test.
#pragma once

#include "DaemonProcess.h"
#include "OvlankClient.h"
#include "TestHosts.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

namespace ovlank::test {

class DaemonFixture : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root for namespaces and netfilter";
        }
        m_hosts = std::make_unique<TestHosts>();
        ASSERT_TRUE(m_hosts->ready()) << m_hosts->problem();
        m_folder = "/run/tavrin-test-" + m_hosts->tag();
        std::filesystem::remove_all(m_folder); // left by an earlier crashed run
        m_device = m_folder + "/Ovlank";
        m_queue = static_cast<uint16_t>(20000 + ::getpid() % 20000);
        m_chains = "DMN" + std::to_string(::getpid());
        m_iptablesBefore = m_hosts->iptablesSaveA();
        m_daemon = makeDaemon();
        ASSERT_TRUE(m_daemon->start(m_device)) << m_daemon->log();
        m_client = std::make_unique<OvlankClient>(m_device);
        ASSERT_TRUE(m_client->connected());
    }

    void TearDown() override {
        m_client.reset();
        if (m_daemon) {
            m_daemon->kill9();
            if (HasFailure()) {
                std::cerr << "daemon log:\n" << m_daemon->log();
            }
        }
        m_daemon.reset();
        std::filesystem::remove_all(m_folder);
        if (m_hosts) {
            std::filesystem::remove("/tmp/" + m_hosts->tag() + "-daemon.log");
        }
        m_hosts.reset();
    }

    std::unique_ptr<DaemonProcess> makeDaemon() {
        return std::make_unique<DaemonProcess>(
            m_hosts->nsA(),
            std::vector<std::string>{"--device", m_device, "--queue", std::to_string(m_queue),
                                     "--queues", "2", "--chains", m_chains},
            "/tmp/" + m_hosts->tag() + "-daemon.log");
    }

    // Starts the hook as a session does: local addresses first.
    void startHook() {
        ASSERT_EQ(m_client->setLocalAddresses({m_hosts->addressANetworkOrder()}), STATUS_SUCCESS);
        ASSERT_EQ(m_client->simple(START_IP_HOOK), STATUS_SUCCESS) << m_daemon->log();
    }

    std::unique_ptr<TestHosts> m_hosts;
    std::unique_ptr<DaemonProcess> m_daemon;
    std::unique_ptr<OvlankClient> m_client;
    std::string m_folder, m_device, m_chains, m_iptablesBefore;
    uint16_t m_queue = 0;
};

} // namespace ovlank::test
