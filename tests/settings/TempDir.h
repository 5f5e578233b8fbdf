// A fresh folder under the system's temporary folder, removed with everything in it
// when the test ends, also when it fails.
#pragma once

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

class TempDir final {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tavrin-settings-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        // Give back write permission that a test took away, so everything can go.
        for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            ::chmod(it->path().c_str(), 0755);
        ::chmod(m_path.c_str(), 0755);
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(std::string_view name) const { return m_path + "/" + std::string(name); }

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

} // namespace tavrin::test
