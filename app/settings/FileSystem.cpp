#include "FileSystem.h"

namespace tavrin::settings {

std::string parentDirectory(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string temporaryFileFor(const std::string& path) {
    return path + ".tmp";
}

std::error_code replaceFileDurably(FileSystem& fs, const std::string& path, std::string_view bytes,
                                   std::optional<unsigned> permissions) {
    if (!permissions) {
        // A file the user keeps private stays private after a save.
        if (const FileStatus old = fs.status(path); old.exists && old.regular)
            permissions = old.permissions;
    }
    const std::string temporary = temporaryFileFor(path);
    // A leftover of an interrupted save, or a link planted under that name, goes; the
    // temporary file is only ever created new, so nothing it points to is written.
    fs.remove(temporary);
    if (std::error_code ec = fs.writeNewFile(temporary, bytes, permissions)) {
        fs.remove(temporary);
        return ec;
    }
    if (std::error_code ec = fs.rename(temporary, path)) {
        fs.remove(temporary);
        return ec;
    }
    return fs.syncDirectory(parentDirectory(path));
}

} // namespace tavrin::settings
