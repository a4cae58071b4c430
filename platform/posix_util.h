#pragma once
// Small pieces the platform layer shares: environment lookups that follow the
// XDG base directory rules, folder creation and whole writes.

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
