// The file operations that settings and command files need, behind a small
// interface so that a test can stop the process between any two of them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

namespace tavrin::settings {

// A save that would follow a symbolic link which, or whose folder, a user other
// than the file's owner and root can change: such a save could be made to write
// wherever that user points the link, so it is refused.
inline constexpr char kMessageUnsafeLinkFormat[] =
    "「%s」を保存できません。シンボリックリンクかそのフォルダ、またはリンク先のフォルダを、"
    "ファイルの所有者とroot以外のユーザーが変更できます。";

std::string unsafeLinkMessage(std::string_view file);

enum class SaveRefusal {
    UnsafeLink = 1,
};
const std::error_category& saveRefusalCategory();
inline std::error_code make_error_code(SaveRefusal e) {
    return {static_cast<int>(e), saveRefusalCategory()};
}

} // namespace tavrin::settings

template <> struct std::is_error_code_enum<tavrin::settings::SaveRefusal> : std::true_type {};

namespace tavrin::settings {

struct FileStatus {
    bool exists = false;
    bool regular = false;
    bool directory = false;
    bool symlink = false; // only from linkStatus
    // No write permission for the owner: the user protected the file, so we leave
    // it alone even where our privileges would let us replace it.
    bool readOnly = false;
    // A folder with an access ACL beyond its mode bits: its group bits are then only
    // the most that named users and groups get, not who they are.
    bool extendedAcl = false;
    unsigned long long size = 0;
    unsigned permissions = 0; // the mode's permission bits (07777)
    unsigned uid = 0;
    unsigned gid = 0;

    // A file that is there but must not be replaced by a rename: not a plain file, or
    // protected by the user.
    bool mustNotReplace() const { return exists && (!regular || readOnly); }
};

// Who owns a new file, and its permission bits.
struct FileOwner {
    unsigned uid = 0;
    unsigned gid = 0;
    unsigned permissions = 0644;
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
    // disk) is an error. With `owner` the file gets that owner, group and permission
    // bits, or the call fails; else the usual 0644 less the umask.
    virtual std::error_code writeNewFile(const std::string& path, std::string_view bytes,
                                         std::optional<FileOwner> owner) = 0;

    // Atomically puts `from` in the place of `to`.
    virtual std::error_code rename(const std::string& from, const std::string& to) = 0;

    virtual std::error_code remove(const std::string& path) = 0;

    // Flushes the folder's entries, so that a rename survives a power loss.
    virtual std::error_code syncDirectory(const std::string& directory) = 0;

    // What `path` leads to, following symbolic links.
    virtual FileStatus status(const std::string& path) = 0;
    // `path` itself: a symbolic link is reported as one.
    virtual FileStatus linkStatus(const std::string& path) = 0;
    // The text of a symbolic link.
    virtual std::error_code readLink(const std::string& path, std::string& target) = 0;
    // Every user in the group, by its member list and by users whose primary group it
    // is; nullopt when the accounts cannot be read.
    virtual std::optional<std::vector<unsigned>> groupMembers(unsigned gid) = 0;
};

// The folder that holds `path` ("." for a bare name).
std::string parentDirectory(const std::string& path);

// Replaces `path` with `bytes` so that at every moment `path` holds either its old
// contents or the new ones in full: a temporary file beside it, flushed, renamed over
// it, and the folder flushed. A symbolic link at `path` is replaced, not followed.
// The new file gets `owner` when given, else the owner, group and permission bits
// of the regular file it replaces.
std::error_code replaceFileDurably(FileSystem& fs, const std::string& path, std::string_view bytes,
                                   std::optional<FileOwner> owner = std::nullopt);

// Where a save of `path` goes: `path` itself, or the file at the end of its symbolic
// links, so that a link stays a link and its target gets the new contents.
struct SaveTarget {
    std::string path;
    FileStatus status;     // of that file; exists is false when it is not there yet
    std::error_code error; // SaveRefusal::UnsafeLink, or why the links could not be followed
};
SaveTarget saveTargetFor(FileSystem& fs, const std::string& path);

// A settings or command file saved as the user would expect of a file edited in
// place: through its links (refused with SaveRefusal::UnsafeLink when another user
// could redirect them), keeping its owner, group and permission bits, and never
// over a file that must not be replaced (permission_denied).
std::error_code saveFileDurably(FileSystem& fs, const std::string& path, std::string_view bytes);

// The name of the temporary file that replaceFileDurably writes beside `path`.
std::string temporaryFileFor(const std::string& path);

} // namespace tavrin::settings
