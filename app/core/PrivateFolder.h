// Folders of the program's run-time state (services, the instance lock): created
// when missing, and refused when someone else could have planted or changed them.
#pragma once

#include <string>

namespace tavrin::core {

// Creates `path` (and missing parents, mode 0755) with mode 0700 when it does not
// exist. Returns an O_DIRECTORY descriptor of it, or -1 with `error` set when the
// folder is a symbolic link, not a folder, not owned by the effective user, or
// writable by group or others.
int openPrivateFolder(const std::string& path, std::string& error);

// The folder for the single-instance lock: `runtimeFolder` when running as root,
// else a folder of the user's own ($XDG_RUNTIME_DIR/tavrin or /tmp/tavrin-UID).
std::string instanceFolderFor(const std::string& runtimeFolder);

} // namespace tavrin::core
