#pragma once
// Small pieces the platform layer shares: environment lookups that follow the
// XDG base directory rules, folder creation, whole writes and atomic file
// replacement.

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/file_handles.h"

// The variable's value; "" when it is unset.
std::string EnvText(const char* aName);

// $HOME, or the password database's home folder when HOME is unset or empty.
// No trailing "/" (unless it is "/"). "" when neither knows one.
std::string HomeFolder();

// $VARIABLE when it holds an absolute path (the XDG rule: relative values are
// ignored), else HomeFolder() + "/" + aFallback.
std::filesystem::path XdgBaseFolder(const char* aVariable, const char* aFallback);

// Creates aFolder and its missing parents with aMode. Throws std::system_error
// ("cannot create folder PATH: reason").
void CreateFolders(const std::filesystem::path& aFolder, unsigned aMode);

// Writes all of aText to aFd, going on after short writes and signals. false
// on the first failed write; errno then tells why.
bool WriteAll(int aFd, std::string_view aText);

// The system's text for an errno value ("No space left on device").
std::string ErrnoText(int aError);

// Puts aText at aTarget so that readers see the old file or the new one,
// never a part: written to a unique hidden name in the target's folder with
// aMode, flushed to disk, renamed over aTarget, and the folder flushed too.
// Throws std::system_error ("cannot write PATH: reason"); after a failure
// aTarget is as it was and no temporary file is left.
void ReplaceFileAtomically(const std::filesystem::path& aTarget, std::string_view aText, unsigned aMode);
