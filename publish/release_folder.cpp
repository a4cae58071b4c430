#include "publish/release_folder.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "components/file_digests.h"

namespace fs = std::filesystem;

TFolderListing ListReleaseFolder(const std::string& aFolder, const std::vector<std::string>& aSkip)
{
    TFolderListing listing;
    std::error_code error;
    fs::directory_iterator it(aFolder, error);
    if (error)
        throw std::system_error(error, "cannot list release folder " + aFolder);
    for (const fs::directory_entry& entry : it) {
        const std::string name = entry.path().filename().string();
        if (std::find(aSkip.begin(), aSkip.end(), name) != aSkip.end())
            continue;
        // The wizard refuses hidden names (".DS_Store", ".git"): listed, one
        // would fail the whole release.
        if (name.starts_with('.')) {
            listing.notes.push_back("not listed: " + name + " (a hidden file)");
            continue;
        }
        // symlink_status: a link is judged as a link, never by its target.
        const fs::file_status status = entry.symlink_status(error);
        if (error)
            throw std::system_error(error, "cannot read " + entry.path().string());
        if (!fs::is_regular_file(status)) {
            listing.notes.push_back(
                "not listed: " + name
                + (fs::is_symlink(status) ? " (a symbolic link)" : " (not a regular file)"));
            continue;
        }
        if (const auto refusal = RefusalOfFileName(name))
            throw std::invalid_argument("cannot list file \"" + name + "\": " + *refusal);

        TReleaseFile file;
        file.name = name;
        file.size = fs::file_size(entry.path(), error);
        if (error)
            throw std::system_error(error, "cannot read the size of " + entry.path().string());
        // Both digests from one read of the file.
        const TFileDigestTexts digests = FileDigestTexts(entry.path().string(), true);
        file.sha1 = digests.sha1;
        file.sha256 = digests.sha256;
        listing.files.push_back(std::move(file));
    }
    std::sort(listing.files.begin(), listing.files.end(),
              [](const TReleaseFile& aLeft, const TReleaseFile& aRight) { return aLeft.name < aRight.name; });
    return listing;
}
