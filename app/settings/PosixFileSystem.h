// FileSystem on the real files of the machine.
#pragma once

#include "FileSystem.h"

namespace tavrin::settings {

class PosixFileSystem final : public FileSystem {
public:
    std::error_code readFile(const std::string& path, std::string& bytes) override;
    std::error_code writeNewFile(const std::string& path, std::string_view bytes,
                                 std::optional<FileOwner> owner) override;
    std::error_code rename(const std::string& from, const std::string& to) override;
    std::error_code remove(const std::string& path) override;
    std::error_code syncDirectory(const std::string& directory) override;
    FileStatus status(const std::string& path) override;
    FileStatus linkStatus(const std::string& path) override;
    std::error_code readLink(const std::string& path, std::string& target) override;
    std::optional<std::vector<unsigned>> groupMembers(unsigned gid) override;
};

} // namespace tavrin::settings
