// A private temporary folder removed with everything in it, and a guard that puts
// the current folder back.
#pragma once

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace tavrin::core::test {

class TempFolder {
public:
    TempFolder() {
        std::string pattern = "/tmp/tavrin-core-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

    void write(const std::string& name, const std::string& text) const {
        std::ofstream(m_path + "/" + name, std::ios::binary) << text;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(m_path + "/" + name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    std::string m_path;
};

class CurrentFolderGuard {
public:
    CurrentFolderGuard() {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) != nullptr)
            m_saved = cwd;
    }
    ~CurrentFolderGuard() {
        if (!m_saved.empty() && ::chdir(m_saved.c_str()) != 0)
            std::abort();
    }
    CurrentFolderGuard(const CurrentFolderGuard&) = delete;
    CurrentFolderGuard& operator=(const CurrentFolderGuard&) = delete;

private:
    std::string m_saved;
};

inline void enter(const std::string& folder) {
    if (::chdir(folder.c_str()) != 0)
        throw std::runtime_error("chdir " + folder);
}

inline std::string currentFolder() {
    char cwd[PATH_MAX];
    return ::getcwd(cwd, sizeof cwd) != nullptr ? cwd : "";
}

} // namespace tavrin::core::test
