// A fresh folder under the system's temporary folder, removed with everything in it
// when the test ends (also when it fails), and the small file and folder helpers the
// tests around it need.
#pragma once

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin::test {

class TempFolder final {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavrin-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        // Give back write permission that a test took away, so everything can go.
        for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (!it->is_symlink())
                ::chmod(it->path().c_str(), 0755);
        ::chmod(m_path.c_str(), 0755);
        std::filesystem::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(std::string_view name) const { return m_path + "/" + std::string(name); }
    std::string operator/(std::string_view name) const { return file(name); }

    void write(std::string_view name, std::string_view text) const;
    std::string read(std::string_view name) const;

private:
    std::string m_path;
};

inline void writeBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool fileExists(const std::string& path) {
    return std::filesystem::exists(path);
}

inline void TempFolder::write(std::string_view name, std::string_view text) const {
    writeBytes(file(name), text);
}

inline std::string TempFolder::read(std::string_view name) const {
    return readBytes(file(name));
}

// Puts the current folder back when the test ends.
class CurrentFolderGuard final {
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

} // namespace tavrin::test
