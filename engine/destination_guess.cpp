#include "engine/destination_guess.h"

#include <filesystem>
#include <system_error>

#include "platform/settings.h"
#include "platform/system_helpers.h"

namespace {

bool FolderExists(const std::string& aPath)
{
    std::error_code error;
    return !aPath.empty() && std::filesystem::is_directory(aPath, error);
}

} // namespace

std::string GuessDestinationFolder()
{
    const HKEY root = SettingsRootKey.load();
    std::string text = RegReadString(root, "\\SOFTWARE\\Corvane\\Downloader", "Destination", "");
    if (text.empty()) {
        text = RegReadString(root, "\\Software\\Microsoft\\Internet Explorer", "Download Directory", "");
        if (text.empty())
            text = XdgUserDir("DOWNLOAD");
    }
    if (!FolderExists(text)) {
        text = GetSpecialFolderPath(CSIDL_PROFILE);
        if (FolderExists(text + "/Downloads"))
            text += "/Downloads";
        if (FolderExists(text + "/Descargas"))
            text += "/Descargas";
    }
    return text;
}
