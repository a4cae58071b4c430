#include "platform/verified_file.h"

#include <cerrno>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix_util.h"
#include "platform/shell_open.h"

TVerifiedFile::TVerifiedFile(UniqueFd aFd, std::string aPath) : mFd(std::move(aFd)), mPath(std::move(aPath))
{
    struct stat info {};
    if (!mFd || ::fstat(mFd.Get(), &info) != 0)
        throw std::runtime_error("cannot read " + mPath + ": " + ErrnoText(mFd ? errno : EBADF));
    mIdentity = TFileIdentity{info.st_dev, info.st_ino};
    mSize = static_cast<std::uint64_t>(info.st_size);
    mMode = info.st_mode;
}

std::string TVerifiedFile::MakeRunnable()
{
    const mode_t wanted = ((mMode & 07777) | S_IXUSR) & ~static_cast<mode_t>(S_IWGRP | S_IWOTH);
    if ((mMode & 07777) == wanted)
        return "";
    // Through the descriptor: a name swapped meanwhile gets nothing.
    if (::fchmod(mFd.Get(), wanted) != 0)
        return "cannot make it runnable: " + ErrnoText(errno);
    mMode = (mMode & ~static_cast<mode_t>(07777)) | wanted;
    return "";
}

std::string TVerifiedFile::Recheck() const
{
    struct stat info {};
    if (::fstat(mFd.Get(), &info) != 0)
        return "cannot look at it again: " + ErrnoText(errno);
    if (TFileIdentity{info.st_dev, info.st_ino} != mIdentity)
        return "it is no longer the file that was verified";
    if (info.st_uid != ::getuid())
        return "it belongs to another user";
    if (static_cast<std::uint64_t>(info.st_size) != mSize)
        return "its size changed since it was verified";
    if (info.st_mode != mMode)
        return "its mode changed since it was verified";
    return "";
}

bool TVerifiedFile::IsProgram() const
{
    return IsDescriptorImage(mFd.Get());
}

std::string NameStillLeadsTo(const TFolderHandle& aFolder, const std::string& aName,
                             const TVerifiedFile& aHeld)
{
    try {
        if (!aFolder.EntryIdentity(aName))
            return "it was removed after it was verified";
        if (!aFolder.IsRegularFile(aName) || aFolder.EntryIdentity(aName) != aHeld.Identity())
            return "it was replaced after it was verified";
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}
