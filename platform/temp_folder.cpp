#include "platform/temp_folder.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/folder_ancestry.h"
#include "platform/posix_util.h"

namespace {

constexpr mode_t kPrivateMode = 0700;

[[noreturn]] void Refuse(const std::filesystem::path& aFolder, const std::string& aReason)
{
    throw std::runtime_error("cannot use private folder " + aFolder.string() + ": " + aReason);
}

}  // namespace

std::string UserTempFolder()
{
    std::string folder = EnvText("XDG_RUNTIME_DIR");
    if (folder.empty())
        folder = XdgBaseFolder("XDG_CACHE_HOME", ".cache").string();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

UniqueFd EnsurePrivateFolder(const std::filesystem::path& aPath)
{
    // "x/" would follow a link named x: the checks below need the bare name.
    std::filesystem::path folder = aPath.lexically_normal();
    if (!folder.has_filename() && folder.has_relative_path())
        folder = folder.parent_path();
    if (folder.has_parent_path() && folder.parent_path() != folder) {
        try {
            CreateFolders(folder.parent_path(), kPrivateMode);
        } catch (const std::system_error& error) {
            Refuse(folder, ErrnoText(error.code().value()));
        }
    }
    if (mkdir(folder.c_str(), kPrivateMode) != 0 && errno != EEXIST)
        Refuse(folder, ErrnoText(errno));
    // The checks and the mode change go through one descriptor opened without
    // following links, so the folder cannot be swapped between them.
    UniqueFd handle{open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    if (!handle) {
        const int error = errno;
        struct stat info {};
        if (lstat(folder.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
            Refuse(folder, "it is a symbolic link");
        if (error == ENOTDIR)
            Refuse(folder, "it is not a folder");
        Refuse(folder, ErrnoText(error));
    }
    struct stat info {};
    if (fstat(handle.Get(), &info) != 0)
        Refuse(folder, ErrnoText(errno));
    if (info.st_uid != geteuid())
        Refuse(folder, "it belongs to another user");
    if ((info.st_mode & 07777) != kPrivateMode && fchmod(handle.Get(), kPrivateMode) != 0)
        Refuse(folder, ErrnoText(errno));
    if (const std::string problem = FolderAncestryProblem(handle.Get(), HomeFolder()); !problem.empty())
        Refuse(folder, problem);
    return handle;
}
