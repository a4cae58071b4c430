#include "engine/private_download.h"

#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "engine/kept_download.h"

TPrivateDownload::TPrivateDownload(const TFolderHandle& aFolder, const std::string& aLocalName,
                                   const std::function<bool(const std::string&)>& aListed)
    : mFolder(aFolder), mLocalName(aLocalName)
{
    mFd = mFolder.CreateBeside(aLocalName, kPrivatePrefix, mName, aListed);
    const auto identity = IdentityOf(mFd.Get());
    if (!identity) {
        mFolder.Remove(mName);
        throw std::runtime_error("cannot write " + aLocalName + ": its new file cannot be examined");
    }
    mIdentity = *identity;
}

TPrivateDownload::~TPrivateDownload()
{
    if (mPlaced)
        return;
    try {
        // Only the file made here: whatever another process put at the name
        // since is its own business.
        if (mFolder.EntryIdentity(mName) == mIdentity)
            mFolder.Remove(mName);
    } catch (...) {
        // Left behind, it is known by its prefix and never used again.
    }
}

UniqueFd TPrivateDownload::TakeForWriting()
{
    if (!mFd)
        throw std::runtime_error("cannot write " + mLocalName + ": its new file was already used");
    return std::move(mFd);
}

void PlaceVerified(const TFolderHandle& aFolder, const std::string& aFrom, const std::string& aLocalName,
                   const TFileIdentity& aVerified, TPrivateDownload* aPrivate)
{
    // A link or another file put there since the check would be given the
    // final name, where setup or the user would then open it.
    if (!aFolder.IsRegularFile(aFrom) || aFolder.EntryIdentity(aFrom) != aVerified
        || (aPrivate && aPrivate->mIdentity != aVerified))
        throw std::runtime_error("cannot place " + aLocalName
                                 + ": it was replaced after its checksum was checked");
    const std::string finalName = FinalPathOf(aLocalName);
    try {
        aFolder.RenameReplace(aFrom, finalName);
    } catch (const std::exception&) {
        // A folder at the final name is never replaced: the file keeps its
        // listed ".rename" name then. A plain name has no other to take.
        if (finalName == aLocalName)
            throw;
        aFolder.RenameReplace(aFrom, aLocalName);
    }
    if (aPrivate)
        aPrivate->mPlaced = true;
}

bool OwnedPrivately(int aFd)
{
    struct stat info {};
    return ::fstat(aFd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()
           && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}
