#pragma once
// Joining names that come from a server to a local folder.

#include <optional>
#include <string>

// The path of aName inside aFolder, or nothing when the result would lie
// outside it or be unsafe to show: aName is empty, absolute, holds a control
// character (HasControlCharacter), has a "." or ".." component, or runs
// through a symbolic link that leads out of the folder. Names with
// sub-folders are allowed; the sub-folders are not created.
std::optional<std::string> JoinInside(const std::string& aFolder, const std::string& aName);

// aName is one plain file name: no "/", no control character and no "." or
// ".." on its own.
bool IsPlainFileName(const std::string& aName);

// A listed name as a local relative path: names written Windows-style use
// "\" between folders, which is "/" here (and in the address).
std::string LocalFileName(const std::string& aListedName);
