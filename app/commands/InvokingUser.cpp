#include "InvokingUser.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace tavrin::commands {

namespace {

std::optional<uid_t> parseUid(const char* text) {
    if (text == nullptr || *text == '\0')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || text[0] == '-' || value >= static_cast<uid_t>(-1))
        return std::nullopt;
    return static_cast<uid_t>(value);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace

std::optional<InvokingUser> invokingUser() {
    if (::geteuid() != 0)
        return std::nullopt;
    std::optional<uid_t> uid = parseUid(std::getenv("PKEXEC_UID"));
    if (!uid)
        uid = parseUid(std::getenv("SUDO_UID"));
    if (!uid || *uid == 0)
        return std::nullopt;

    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(*uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return std::nullopt;
    InvokingUser user;
    user.uid = entry.pw_uid;
    user.gid = entry.pw_gid;
    user.name = entry.pw_name;
    user.home = entry.pw_dir != nullptr ? entry.pw_dir : "/";
    user.shell = entry.pw_shell != nullptr ? entry.pw_shell : "/bin/sh";

    int count = 32;
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::vector<gid_t> groups(static_cast<size_t>(count));
        int n = count;
        if (::getgrouplist(user.name.c_str(), user.gid, groups.data(), &n) >= 0) {
            groups.resize(static_cast<size_t>(n));
            user.groups = std::move(groups);
            break;
        }
        count = n > count ? n : count * 2;
    }
    if (user.groups.empty())
        user.groups.push_back(user.gid);
    return user;
}

std::vector<std::string> userEnvironment(const InvokingUser& user, char** environment) {
    static constexpr std::array<std::string_view, 9> kKept = {
        "DISPLAY", "XAUTHORITY",       "WAYLAND_DISPLAY",         "LANG", "LANGUAGE", "TERM",
        "TZ",      "XDG_SESSION_TYPE", "DBUS_SESSION_BUS_ADDRESS"};
    std::vector<std::string> out;
    bool haveBus = false;
    for (char** e = environment; e != nullptr && *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const size_t eq = entry.find('=');
        if (eq == std::string_view::npos)
            continue;
        const std::string_view key = entry.substr(0, eq);
        bool keep = key.starts_with("LC_");
        for (std::string_view k : kKept)
            keep = keep || key == k;
        if (!keep)
            continue;
        haveBus = haveBus || key == "DBUS_SESSION_BUS_ADDRESS";
        out.emplace_back(entry);
    }
    out.push_back("HOME=" + user.home);
    out.push_back("USER=" + user.name);
    out.push_back("LOGNAME=" + user.name);
    out.push_back("SHELL=" + user.shell);
    out.push_back("PATH=/usr/local/bin:/usr/bin:/bin");
    const std::string runtime = "/run/user/" + std::to_string(user.uid);
    if (exists(runtime)) {
        out.push_back("XDG_RUNTIME_DIR=" + runtime);
        if (!haveBus && exists(runtime + "/bus"))
            out.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime + "/bus");
    }
    return out;
}

bool becomeUser(const InvokingUser& user) noexcept {
    if (::setgroups(user.groups.size(), user.groups.data()) != 0)
        return false;
    if (::setgid(user.gid) != 0 || ::setuid(user.uid) != 0)
        return false;
    // Root must be out of reach for good: a way back means the drop failed.
    return ::setuid(0) != 0;
}

} // namespace tavrin::commands
