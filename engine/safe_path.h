#pragma once
// Joining names that come from a server to a local folder.

#include <optional>
#include <string>

// The path of aName inside aFolder, or nothing when the result would lie
// outside it, be hidden or be unsafe to show: aName is empty, absolute, holds
// a control character (HasControlCharacter), has a component that starts with
// "." (".", "..", ".ssh"), or runs through a symbolic link that leads out of
// the folder. Names with sub-folders are allowed; the sub-folders are not
// created.
std::optional<std::string> JoinInside(const std::string& aFolder, const std::string& aName);

// Why JoinInside refuses aName, for the line that names it: "it holds a
// control character", "it names a hidden file or folder" or "it leads outside
// the destination folder".
std::string RefusedNameReason(const std::string& aName);

// aName is one plain file name: no "/", no control character, and it does
// not start with "." (hidden, or "." and "..").
bool IsPlainFileName(const std::string& aName);

// A listed name as a local relative path: names written Windows-style use
// "\" between folders, which is "/" here (and in the address).
std::string LocalFileName(const std::string& aListedName);
