#include "platform/folder_handle.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <stdexcept>
#include <vector>

#include "platform/posix_util.h"

namespace {

constexpr mode_t kNewFileMode = 0666;  // less the umask, as fopen would
constexpr int kUniqueNameTries = 100;

// aPrefix and six random letters or digits: a name nobody can guess before
// it is made.
std::string RandomName(const std::string& aPrefix, std::random_device& aSource)
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string name = aPrefix;
    for (int i = 0; i < 6; ++i)
        name += kLetters[pick(aSource)];
    return name;
}

[[noreturn]] void Refuse(const std::string& aVerb, const std::string& aName, const std::string& aReason)
{
    throw std::runtime_error(aVerb + " " + aName + ": " + aReason);
}

std::vector<std::string> Components(const std::string& aName, const std::string& aVerb)
{
    std::vector<std::string> parts;
    if (aName.empty() || aName.front() == '/')
        Refuse(aVerb, aName, "not a name inside the folder");
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = aName.find('/', start);
        std::string part =
            aName.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty() || part == "." || part == "..")
            Refuse(aVerb, aName, "not a name inside the folder");
        parts.push_back(std::move(part));
        if (slash == std::string::npos)
            return parts;
        start = slash + 1;
    }
}

// Why the entry aLeaf of aFolder could not be used as a file, after an open
// failed with aError.
std::string WhyNotAFile(int aFolder, const std::string& aLeaf, int aError)
{
    struct stat info {};
    if (fstatat(aFolder, aLeaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(info.st_mode))
            return "it is a symbolic link";
        if (!S_ISREG(info.st_mode))
            return "it is not a regular file";
    }
    return ErrnoText(aError);
}

// An open that never follows the last component and never blocks on a pipe;
// the result is a regular file in blocking mode, or a refusal.
UniqueFd OpenRegular(int aFolder, const std::string& aLeaf, int aFlags, const std::string& aVerb,
                     const std::string& aName)
{
    UniqueFd file{openat(aFolder, aLeaf.c_str(), aFlags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                         kNewFileMode)};
    if (!file)
        Refuse(aVerb, aName, WhyNotAFile(aFolder, aLeaf, errno));
    struct stat info {};
    if (fstat(file.Get(), &info) != 0)
        Refuse(aVerb, aName, ErrnoText(errno));
    if (!S_ISREG(info.st_mode))
        Refuse(aVerb, aName, "it is not a regular file");
    const int flags = fcntl(file.Get(), F_GETFL);
    if (flags < 0 || fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        Refuse(aVerb, aName, ErrnoText(errno));
    return file;
}

}  // namespace

std::optional<TFileIdentity> IdentityOf(int aFd)
{
    struct stat info {};
    if (fstat(aFd, &info) != 0)
        return std::nullopt;
    return TFileIdentity{info.st_dev, info.st_ino};
}

TFolderHandle::TFolderHandle(const std::string& aFolder)
    : mPath(aFolder), mFd(open(aFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    if (!mFd)
        Refuse("cannot open folder", aFolder, ErrnoText(errno));
}

TFolderHandle::TFolderHandle(UniqueFd aFd, std::string aFolder)
    : mPath(std::move(aFolder)), mFd(std::move(aFd))
{
    if (!mFd)
        Refuse("cannot open folder", mPath, ErrnoText(EBADF));
}

TFolderHandle::TParent TFolderHandle::ParentOf(const std::string& aName, const std::string& aVerb) const
{
    const std::vector<std::string> parts = Components(aName, aVerb);
    TParent parent;
    parent.fd = mFd.Get();
    std::string walked;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        walked += (walked.empty() ? "" : "/") + parts[i];
        UniqueFd next{openat(parent.fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
        if (!next) {
            const int error = errno;
            struct stat info {};
            if (fstatat(parent.fd, parts[i].c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
                if (S_ISLNK(info.st_mode))
                    Refuse(aVerb, aName, walked + " is a symbolic link");
                if (!S_ISDIR(info.st_mode))
                    Refuse(aVerb, aName, walked + " is not a folder");
            }
            Refuse(aVerb, aName, walked + ": " + ErrnoText(error));
        }
        parent.owned = std::move(next);
        parent.fd = parent.owned.Get();
    }
    parent.leaf = parts.back();
    return parent;
}

UniqueFd TFolderHandle::OpenForWriting(const std::string& aName) const
{
    const TParent parent = ParentOf(aName, "cannot write");
    return OpenRegular(parent.fd, parent.leaf, O_WRONLY | O_CREAT, "cannot write", aName);
}

UniqueFd TFolderHandle::OpenForReading(const std::string& aName) const
{
    const TParent parent = ParentOf(aName, "cannot read");
    return OpenRegular(parent.fd, parent.leaf, O_RDONLY, "cannot read", aName);
}

UniqueFd TFolderHandle::CreateUnique(const std::string& aPrefix, std::string& aName) const
{
    std::random_device source;
    for (int attempt = 0; attempt < kUniqueNameTries; ++attempt) {
        const std::string name = RandomName(aPrefix, source);
        UniqueFd file{
            openat(mFd.Get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)};
        if (file) {
            aName = name;
            return file;
        }
        if (errno != EEXIST)
            Refuse("cannot create a file in", mPath, ErrnoText(errno));
    }
    Refuse("cannot create a file in", mPath, "no free name");
}

UniqueFd TFolderHandle::CreateBeside(const std::string& aName, const std::string& aPrefix,
                                     std::string& aCreated,
                                     const std::function<bool(const std::string&)>& aTaken) const
{
    const TParent parent = ParentOf(aName, "cannot write");
    const auto slash = aName.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : aName.substr(0, slash + 1);
    std::random_device source;
    for (int attempt = 0; attempt < kUniqueNameTries; ++attempt) {
        const std::string leaf = RandomName(aPrefix, source);
        if (aTaken && aTaken(folder + leaf))
            continue;
        UniqueFd file{openat(parent.fd, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                             kNewFileMode)};
        if (file) {
            aCreated = folder + leaf;
            return file;
        }
        if (errno != EEXIST)
            Refuse("cannot write", aName, ErrnoText(errno));
    }
    Refuse("cannot write", aName, "no free name beside it");
}

UniqueFd TFolderHandle::CreateNew(const std::string& aName) const
{
    const TParent parent = ParentOf(aName, "cannot write");
    UniqueFd file{openat(parent.fd, parent.leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         kNewFileMode)};
    if (!file)
        Refuse("cannot write", aName, errno == EEXIST ? "another file took its name" : ErrnoText(errno));
    return file;
}

std::optional<TFileIdentity> TFolderHandle::EntryIdentity(const std::string& aName) const
{
    const TParent parent = ParentOf(aName, "cannot examine");
    struct stat info {};
    if (fstatat(parent.fd, parent.leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return TFileIdentity{info.st_dev, info.st_ino};
}

bool TFolderHandle::IsFolder(const std::string& aName) const
{
    const TParent parent = ParentOf(aName, "cannot examine");
    struct stat info {};
    return fstatat(parent.fd, parent.leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
}

bool TFolderHandle::IsRegularFile(const std::string& aName) const
{
    const TParent parent = ParentOf(aName, "cannot examine");
    struct stat info {};
    return fstatat(parent.fd, parent.leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
}

void TFolderHandle::Remove(const std::string& aName) const
{
    const TParent parent = ParentOf(aName, "cannot remove");
    // Without AT_REMOVEDIR a folder is refused by the kernel itself.
    if (unlinkat(parent.fd, parent.leaf.c_str(), 0) != 0)
        Refuse("cannot remove", aName, ErrnoText(errno));
}

void TFolderHandle::RenameReplace(const std::string& aFrom, const std::string& aTo) const
{
    const TParent from = ParentOf(aFrom, "cannot rename");
    const TParent to = ParentOf(aTo, "cannot rename");
    if (renameat(from.fd, from.leaf.c_str(), to.fd, to.leaf.c_str()) != 0)
        Refuse("cannot rename", aFrom, ErrnoText(errno));
}

void TFolderHandle::RenameNoReplace(const std::string& aFrom, const std::string& aTo) const
{
    const TParent from = ParentOf(aFrom, "cannot rename");
    const TParent to = ParentOf(aTo, "cannot rename");
    if (renameat2(from.fd, from.leaf.c_str(), to.fd, to.leaf.c_str(), RENAME_NOREPLACE) == 0)
        return;
    const int error = errno;
    if (error != EINVAL)
        Refuse("cannot rename", aFrom, ErrnoText(error));
    // A file system without RENAME_NOREPLACE: test first, with the small
    // window that leaves.
    struct stat info {};
    if (fstatat(to.fd, to.leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0)
        Refuse("cannot rename", aFrom, aTo + " exists");
    if (renameat(from.fd, from.leaf.c_str(), to.fd, to.leaf.c_str()) != 0)
        Refuse("cannot rename", aFrom, ErrnoText(errno));
}
