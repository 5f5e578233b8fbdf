#include "FileSystem.h"

#include <algorithm>
#include <cstdio>

namespace tavrin::settings {

namespace {

// More links than this in a row are taken for a loop, as the kernel does.
constexpr int kMaxLinks = 40;

constexpr unsigned kGroupWrite = 0020;
constexpr unsigned kOthersWrite = 0002;

class SaveRefusalCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "save refusal"; }
    std::string message(int value) const override {
        switch (static_cast<SaveRefusal>(value)) {
        case SaveRefusal::UnsafeLink:
            return "a symbolic link on the way can be changed by another user";
        }
        return "save refused";
    }
};

// Whether no user but those allowed can change what the folder holds.
bool folderIsSafe(FileSystem& fs, const std::string& folder, const std::vector<unsigned>& allowed) {
    const auto isAllowed = [&](unsigned uid) {
        return std::find(allowed.begin(), allowed.end(), uid) != allowed.end();
    };
    const FileStatus st = fs.status(folder);
    if (!st.exists || !st.directory || !isAllowed(st.uid))
        return false;
    if ((st.permissions & kOthersWrite) != 0)
        return false;
    if ((st.permissions & kGroupWrite) == 0)
        return true;
    // Group-writable: safe only when the group holds nobody else, and no ACL entry
    // lets a named user or group write.
    if (st.extendedAcl)
        return false;
    const auto members = fs.groupMembers(st.gid);
    return members && std::all_of(members->begin(), members->end(), isAllowed);
}

} // namespace

const std::error_category& saveRefusalCategory() {
    static const SaveRefusalCategory category;
    return category;
}

std::string unsafeLinkMessage(std::string_view file) {
    const std::string name(file);
    std::string text(sizeof kMessageUnsafeLinkFormat + name.size(), '\0');
    const int n = std::snprintf(text.data(), text.size(), kMessageUnsafeLinkFormat, name.c_str());
    text.resize(n > 0 ? std::min(static_cast<size_t>(n), text.size() - 1) : 0);
    return text;
}

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
                                   std::optional<FileOwner> owner) {
    if (!owner) {
        // A file the user keeps private stays private after a save, and stays theirs.
        if (const FileStatus old = fs.linkStatus(path); old.exists && old.regular)
            owner = FileOwner{old.uid, old.gid, old.permissions};
    }
    const std::string temporary = temporaryFileFor(path);
    // A leftover of an interrupted save, or a link planted under that name, goes; the
    // temporary file is only ever created new, so nothing it points to is written.
    fs.remove(temporary);
    if (std::error_code ec = fs.writeNewFile(temporary, bytes, owner)) {
        fs.remove(temporary);
        return ec;
    }
    if (std::error_code ec = fs.rename(temporary, path)) {
        fs.remove(temporary);
        return ec;
    }
    return fs.syncDirectory(parentDirectory(path));
}

SaveTarget saveTargetFor(FileSystem& fs, const std::string& path) {
    SaveTarget target;
    struct Link {
        std::string path;
        unsigned uid;
    };
    std::vector<Link> links;
    std::string current = path;
    for (;;) {
        const FileStatus st = fs.linkStatus(current);
        if (!st.symlink) {
            target.path = current;
            target.status = st;
            break;
        }
        if (links.size() == kMaxLinks) {
            target.error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
            return target;
        }
        links.push_back({current, st.uid});
        std::string next;
        if (std::error_code ec = fs.readLink(current, next)) {
            target.error = ec;
            return target;
        }
        current = next.starts_with('/') ? next : parentDirectory(current) + "/" + next;
    }
    if (links.empty())
        return target;

    // The file's owner, or for a file not made yet the owner of the last link.
    const unsigned owner = target.status.exists ? target.status.uid : links.back().uid;
    const std::vector<unsigned> allowed{0, owner};
    bool safe = folderIsSafe(fs, parentDirectory(target.path), allowed);
    for (const Link& link : links) {
        safe = safe && std::find(allowed.begin(), allowed.end(), link.uid) != allowed.end() &&
               folderIsSafe(fs, parentDirectory(link.path), allowed);
    }
    if (!safe)
        target.error = SaveRefusal::UnsafeLink;
    return target;
}

std::error_code saveFileDurably(FileSystem& fs, const std::string& path, std::string_view bytes) {
    const SaveTarget target = saveTargetFor(fs, path);
    if (target.error)
        return target.error;
    // The user protected the file; replacing it by a rename would ignore that.
    if (target.status.mustNotReplace())
        return std::make_error_code(std::errc::permission_denied);
    return replaceFileDurably(fs, target.path, bytes);
}

} // namespace tavrin::settings
