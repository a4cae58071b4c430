#pragma once
// The user's own folder for temporary files. The wizard runs programs it puts
// there (a newer copy of itself), so the folder must be one no other local
// user can write to: a fixed folder in the shared /tmp would let another user
// plant a program there first.

#include <filesystem>
#include <string>

#include "platform/file_handles.h"

// "$XDG_RUNTIME_DIR/" when that is set and not empty, else
// "${XDG_CACHE_HOME:-$HOME/.cache}/"; always with a trailing "/". Does not
// create anything.
std::string UserTempFolder();

// Creates aFolder and its missing parents with mode 0700. When it exists and
// is ours but open to others, tightens it to 0700. Returns the folder open
// (O_RDONLY | O_DIRECTORY, opened without following a link), to be used
// through that descriptor from then on. Throws
// std::runtime_error("cannot use private folder PATH: reason") when it is a
// symbolic link, not a folder, owned by another user, cannot be created, or
// when a folder above it up to the user's home (or "/") is owned by another
// user than this one or root, or writable by others without the sticky bit.
UniqueFd EnsurePrivateFolder(const std::filesystem::path& aFolder);
