#pragma once
// The destination folder offered before the user picks one.

#include <string>

// The folder last chosen in the folder dialog; else the desktop's download
// folder; when that is empty or missing, the home folder, or its "Downloads"
// or "Descargas" sub-folder where one exists. Reads the settings store, so
// SettingsRootKey must be set. Throws when a setting has the wrong type.
std::string GuessDestinationFolder();
