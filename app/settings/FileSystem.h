// The file operations that settings and command files need, behind a small
// interface so that a test can stop the process between any two of them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace tavrin::settings {

struct FileStatus {
    bool exists = false;
    bool regular = false;
    // No write permission for the owner: the user protected the file, so we leave
    // it alone even where our privileges would let us replace it.
    bool readOnly = false;
    unsigned long long size = 0;
    unsigned permissions = 0; // the mode's permission bits (0777)

    // A file that is there but must not be replaced by a rename: not a plain file, or
    // protected by the user.
    bool mustNotReplace() const { return exists && (!regular || readOnly); }
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The whole file. A missing file gives std::errc::no_such_file_or_directory;
    // anything but a regular file (a FIFO, a device) gives invalid_argument without
    // waiting on it.
    virtual std::error_code readFile(const std::string& path, std::string& bytes) = 0;

    // Creates `path`, which must not exist yet (not even as a symbolic link), writes
    // every byte and flushes it to the disk before returning; a short write (a full
    // disk) is an error. The file gets exactly `permissions` when given, else the
    // usual 0644 less the umask.
    virtual std::error_code writeNewFile(const std::string& path, std::string_view bytes,
                                         std::optional<unsigned> permissions) = 0;

    // Atomically puts `from` in the place of `to`.
    virtual std::error_code rename(const std::string& from, const std::string& to) = 0;

    virtual std::error_code remove(const std::string& path) = 0;

    // Flushes the folder's entries, so that a rename survives a power loss.
    virtual std::error_code syncDirectory(const std::string& directory) = 0;

    virtual FileStatus status(const std::string& path) = 0;
};

// The folder that holds `path` ("." for a bare name).
std::string parentDirectory(const std::string& path);

// Replaces `path` with `bytes` so that at every moment `path` holds either its old
// contents or the new ones in full: a temporary file beside it, flushed, renamed over
// it, and the folder flushed. The new file keeps the permission bits of the file it
// replaces, or gets `permissions` when given.
std::error_code replaceFileDurably(FileSystem& fs, const std::string& path, std::string_view bytes,
                                   std::optional<unsigned> permissions = std::nullopt);

// The name of the temporary file that replaceFileDurably writes beside `path`.
std::string temporaryFileFor(const std::string& path);

} // namespace tavrin::settings
