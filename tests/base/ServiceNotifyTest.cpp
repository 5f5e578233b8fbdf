// Notifications reach the service manager's socket as one datagram each.
#include "ServiceNotify.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tavrin {
namespace {

// A datagram socket bound where the service manager's would be.
class Listener {
public:
    explicit Listener(const std::string& name) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.data(), name.size());
        if (name[0] == '@')
            address.sun_path[0] = '\0';
        m_bound =
            ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address),
                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size())) == 0;
    }
    ~Listener() { ::close(m_fd); }
    bool bound() const { return m_bound; }
    std::string receive() {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1)
            return "(nothing)";
        char buffer[256];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        return n < 0 ? "(error)" : std::string(buffer, static_cast<size_t>(n));
    }

private:
    int m_fd = -1;
    bool m_bound = false;
};

TEST(ServiceNotify, StatesReachAPathOrAnAbstractSocket) {
    test::TempFolder folder;
    const std::string path = folder / "notify";
    const std::string abstract = "@tavrin-notify-test-" + std::to_string(::getpid());
    for (const std::string& name : {path, abstract}) {
        Listener listener(name);
        ASSERT_TRUE(listener.bound()) << name;
        EXPECT_TRUE(notifyServiceManager("READY=1", name.c_str())) << name;
        EXPECT_EQ(listener.receive(), "READY=1") << name;
        EXPECT_TRUE(notifyServiceManager("STOPPING=1", name.c_str())) << name;
        EXPECT_EQ(listener.receive(), "STOPPING=1") << name;
    }
}

TEST(ServiceNotify, WithoutAUsableSocketNothingIsSent) {
    test::TempFolder folder;
    for (const char* name :
         {static_cast<const char*>(nullptr), "", "relative/notify", "@", "/no/such/folder/notify"})
        EXPECT_FALSE(notifyServiceManager("READY=1", name)) << (name == nullptr ? "(unset)" : name);
    const std::string tooLong = "/" + std::string(200, 'n');
    EXPECT_FALSE(notifyServiceManager("READY=1", tooLong.c_str()));
    ::unsetenv("NOTIFY_SOCKET");
    EXPECT_FALSE(notifyServiceManager("READY=1"));
}

} // namespace
} // namespace tavrin
