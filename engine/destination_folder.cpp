#include "engine/destination_folder.h"

#include <filesystem>
#include <system_error>

#include "platform/folder_handle.h"
#include "platform/settings.h"
#include "platform/system_helpers.h"
#include "platform/text.h"

namespace {

bool FolderExists(const std::string& aPath)
{
    std::error_code error;
    return !aPath.empty() && std::filesystem::is_directory(aPath, error);
}

}  // namespace

std::string GuessDestinationFolder()
{
    const HKEY root = SettingsRootKey.load();
    std::string text = RegReadString(root, kProgramSettingsKey, kDestinationValueName, "");
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

bool CreateDestinationFolder(const std::string& aFolder)
{
    if (IsBlank(aFolder) || !std::filesystem::path(aFolder).is_absolute())
        return false;
    std::error_code error;
    std::filesystem::create_directories(aFolder, error);
    return std::filesystem::is_directory(aFolder, error);
}

TFolderCheck PrepareDestinationFolder(const std::string& aFolder)
{
    if (!CreateDestinationFolder(aFolder))
        return TFolderCheck::CannotCreate;

    // Through one handle, so that the probe is created and removed in the
    // folder that was checked, whatever happens to its path meanwhile.
    try {
        const TFolderHandle folder(aFolder);
        std::string name;
        UniqueFd probe = folder.CreateUnique("Tmp", name);
        probe.Close();
        folder.Remove(name);
    } catch (const std::exception&) {
        return TFolderCheck::NoRights;
    }
    return TFolderCheck::Usable;
}
