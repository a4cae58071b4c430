#pragma once
// The user's own folder for temporary files. The wizard runs programs it puts
// there (a newer copy of itself), so the folder must be one no other local
// user can write to: a fixed folder in the shared /tmp would let another user
// plant a program there first.

#include <filesystem>
#include <string>

// "$XDG_RUNTIME_DIR/" when that is set and not empty, else
// "${XDG_CACHE_HOME:-$HOME/.cache}/"; always with a trailing "/". Does not
// create anything.
std::string UserTempFolder();

// Creates aFolder and its missing parents with mode 0700. When it exists and
// is ours but open to others, tightens it to 0700. Throws
// std::runtime_error("cannot use private folder PATH: reason") when it is a
// symbolic link, not a folder, owned by another user, or cannot be created.
void EnsurePrivateFolder(const std::filesystem::path& aFolder);
