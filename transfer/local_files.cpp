#include "transfer/local_files.h"

#include <filesystem>
#include <sys/stat.h>
#include <system_error>

#include "platform/folder_handle.h"

bool IsRegularLocalFile(const std::string& aPath)
{
    if (aPath.empty())
        return true;
    std::error_code error;
    const auto status = std::filesystem::status(aPath, error);
    return error || !std::filesystem::exists(status) || std::filesystem::is_regular_file(status);
}

bool IsSameFile(const std::string& aPath, int aFd)
{
    struct stat path {};
    struct stat file {};
    return !aPath.empty() && ::stat(aPath.c_str(), &path) == 0 && ::fstat(aFd, &file) == 0
           && path.st_dev == file.st_dev && path.st_ino == file.st_ino;
}

UniqueFd OpenFilename(const std::string& aFilename)
{
    const std::filesystem::path path(aFilename);
    const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
    return TFolderHandle(folder).OpenForWriting(path.filename().string());
}
