#pragma once
// The folder that receives the downloaded files: the one offered before the
// user picks one, and the check that it can be used.

#include <string>

// The folder last chosen in the folder dialog; else the desktop's download
// folder; when that is empty or missing, the home folder, or its "Downloads"
// or "Descargas" sub-folder where one exists. Reads the settings store, so
// SettingsRootKey must be set. Throws when a setting has the wrong type.
std::string GuessDestinationFolder();

enum class TFolderCheck {
    Usable,
    CannotCreate,  // not an absolute path, or it cannot be created
    NoRights,      // no file can be created in it
};

// What the user is told of a folder that is not Usable, in the window and on
// the terminal alike.
inline constexpr const char* kCannotCreateFolderText =
    "Downloader can't create the specified destination folder";
inline constexpr const char* kNoRightsInFolderText =
    "Downloader doesn't have sufficient rights to perform this operation in destination folder.";

// Creates aFolder with every missing parent; true when it exists afterwards.
// Relative paths are refused: they would land wherever the program happened
// to be started.
bool CreateDestinationFolder(const std::string& aFolder);

// Creates aFolder with every missing parent (they stay even when the folder
// turns out unusable), then proves that a file can be created in it by
// creating and removing a uniquely named one.
TFolderCheck PrepareDestinationFolder(const std::string& aFolder);
