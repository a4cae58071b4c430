#include "transfer/target_file.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Ours, and not open to writing by others. Our own group counts as us:
// where each user has a group of their own (umask 002) it is only us, and
// where it is shared, sharing was the user's choice.
bool OnlyWeMayWrite(const struct stat& aInfo)
{
    return aInfo.st_uid == ::geteuid() && (aInfo.st_mode & S_IWOTH) == 0
           && ((aInfo.st_mode & S_IWGRP) == 0 || aInfo.st_gid == ::getegid());
}

}  // namespace

TTargetFile::TTargetFile(UniqueFd aFd, TDigest aDigest) : mFd(std::move(aFd)), mWriter(mFd.Get())
{
    if (aDigest == TDigest::None)
        return;
    mDigest = std::make_unique<TBlockDigest>(TBlockWriter::kBlockSize, aDigest == TDigest::Sha1AndSha256);
    mWriter.SetBlockSink([digest = mDigest.get()](TBlockWriter::TBlock aBlock, std::size_t aSize) {
        return digest->Exchange(std::move(aBlock), aSize);
    });
}

std::optional<TTargetFile::TDigested> TTargetFile::TakeDigests(const std::string& aName, std::uint64_t aSize)
{
    if (!mDigest)
        return std::nullopt;
    struct stat written {};
    struct stat named {};
    // lstat: a link put at the name is not the file written, wherever it leads.
    const bool theFileWritten = ::fstat(mFd.Get(), &written) == 0 && ::lstat(aName.c_str(), &named) == 0
                                && written.st_dev == named.st_dev && written.st_ino == named.st_ino
                                && static_cast<std::uint64_t>(written.st_size) == aSize
                                && OnlyWeMayWrite(written);
    if (!theFileWritten)
        return std::nullopt;
    TDigested digested{mDigest->Finish(), TFileIdentity{written.st_dev, written.st_ino}};
    mDigest.reset();
    return digested;
}

bool TTargetFile::Close()
{
    return mFd.Close();
}
