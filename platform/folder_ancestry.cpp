#include "platform/folder_ancestry.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_handles.h"
#include "platform/posix_util.h"

namespace {

// Far deeper than any real tree; bounds the walk whatever the file system does.
constexpr int kMaxDepth = 4096;

// The kernel's name for an open folder, for messages only.
std::string NameOf(int aFd)
{
    const std::string link = "/proc/self/fd/" + std::to_string(aFd);
    char buffer[4096];
    const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer)
        return "a folder above it";
    return std::string(buffer, static_cast<std::size_t>(length));
}

bool SameFile(const struct stat& aOne, const struct stat& aOther)
{
    return aOne.st_dev == aOther.st_dev && aOne.st_ino == aOther.st_ino;
}

}  // namespace

std::string FolderAncestryProblem(int aFolderFd, const std::string& aStopAt)
{
    struct stat stop {};
    const bool haveStop = !aStopAt.empty() && ::stat(aStopAt.c_str(), &stop) == 0;
    UniqueFd current{::openat(aFolderFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC)};
    if (!current)
        return "cannot look at it: " + ErrnoText(errno);
    const uid_t user = ::getuid();
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        struct stat info {};
        if (::fstat(current.Get(), &info) != 0)
            return "cannot look at " + NameOf(current.Get()) + ": " + ErrnoText(errno);
        if (info.st_uid != user && info.st_uid != 0)
            return NameOf(current.Get()) + " is owned by another user";
        if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0)
            return NameOf(current.Get()) + " is writable by others without the sticky bit";
        if (haveStop && SameFile(info, stop))
            return "";
        UniqueFd parent{::openat(current.Get(), "..", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
        struct stat parentInfo {};
        if (!parent || ::fstat(parent.Get(), &parentInfo) != 0)
            return "cannot look at the folder above " + NameOf(current.Get()) + ": " + ErrnoText(errno);
        if (SameFile(parentInfo, info))
            return "";  // the root
        current = std::move(parent);
    }
    return "it lies too deep to check";
}
