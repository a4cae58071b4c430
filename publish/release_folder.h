#pragma once
// The release folder as the publishing tool sees it: its plain files, hashed.

#include <string>
#include <vector>

#include "publish/info_file_writer.h"

struct TFolderListing {
    std::vector<TReleaseFile> files;  // name order
    std::vector<std::string> notes;   // what was left out, and why, for the user
};

// Lists and hashes the regular files at the top of aFolder. Symbolic links,
// folders and other entries are left out with a note (a link could serve a
// file from outside the folder), as are the names in aSkip (the info file
// itself when it is written into the folder). Throws std::invalid_argument
// for a name the wizard could not use, std::system_error when the folder or
// a file cannot be read.
TFolderListing ListReleaseFolder(const std::string& aFolder, const std::vector<std::string>& aSkip);
