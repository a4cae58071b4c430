#pragma once
// Whether a folder can be trusted with its ancestors. Whoever owns a folder
// above ours, or may write to one that has no sticky bit, can rename our
// folder's path to lead anywhere at any moment; a folder below such a one is
// no private folder, whatever its own owner and mode.

#include <string>

// "" when aFolderFd's folder and every folder above it, up to and including
// the one at aStopAt (the user's home; "" or a folder not above it: up to
// "/"), is owned by this user or by root and is not writable by group or
// others unless it has the sticky bit. Otherwise why not, naming the first
// folder that fails: "/home/shared is owned by another user", "/srv/cache is
// writable by others without the sticky bit". The walk goes up from the
// descriptor itself, through "..", never following a link, so it judges the
// folder that is held, not whatever its path leads to now.
std::string FolderAncestryProblem(int aFolderFd, const std::string& aStopAt);
