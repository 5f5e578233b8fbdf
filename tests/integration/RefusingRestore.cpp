#include "RefusingRestore.h"

#include "ChildProcess.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace ovlank::test {

namespace fs = std::filesystem;

namespace {
constexpr const char* kSystemTools = "/usr/sbin";
} // namespace

RefusingRestore::RefusingRestore(const std::string& tag)
    : m_tools("/tmp/" + tag + "-tools"), m_real("/tmp/" + tag + "-real-tools"),
      m_flag("/tmp/" + tag + "-refuse") {
    std::error_code error;
    fs::remove_all(m_tools, error);
    fs::create_directories(m_tools, error);
    fs::create_directories(m_real, error);
    fs::permissions(m_tools, fs::perms(0755), error);
    if (error) {
        return;
    }
    // Inside the namespace the real folder shows at m_real, and m_tools covers it.
    for (const auto& entry : fs::directory_iterator(kSystemTools, error)) {
        const std::string name = entry.path().filename();
        if (name != "iptables-restore") {
            fs::create_symlink(m_real + "/" + name, m_tools + "/" + name, error);
        }
    }
    const std::string script = m_tools + "/iptables-restore";
    std::ofstream(script) << "#!/bin/sh\n"
                          << "if [ -e " << m_flag << " ]; then\n"
                          << "    echo '" << kMessage << "' >&2\n"
                          << "    exit 1\n"
                          << "fi\n"
                          << "exec " << m_real << "/iptables-restore \"$@\"\n";
    m_ready = !error && ::chmod(script.c_str(), 0755) == 0;
}

RefusingRestore::~RefusingRestore() {
    std::error_code error;
    fs::remove(m_flag, error);
    fs::remove_all(m_tools, error);
    fs::remove(m_real, error); // empty outside the daemon's namespace
}

std::vector<std::string> RefusingRestore::launcher() const {
    return {toolPath("unshare"),
            "--mount",
            "--propagation",
            "private",
            "/bin/sh",
            "-c",
            "mount --bind \"$1\" \"$2\" && mount --bind \"$3\" \"$1\" && shift 3 && exec \"$@\"",
            "sh",
            kSystemTools,
            m_real,
            m_tools};
}

void RefusingRestore::refuse(bool on) {
    if (on) {
        std::ofstream(m_flag) << "refuse\n";
    } else {
        std::error_code error;
        fs::remove(m_flag, error);
    }
}

} // namespace ovlank::test
