#include "engine/kept_download.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string_view>

#include "components/file_digests.h"
#include "components/sha1.h"
#include "engine/private_download.h"
#include "engine/release_signature.h"
#include "platform/file_handles.h"
#include "platform/posix_util.h"

namespace {

constexpr const char* kPartialSuffix = "\n~partial";
constexpr const char* kStateSuffix = "\n~resume";
constexpr const char* kStateHeading = "Downloader resume state 1";
constexpr const char* kRenameExtension = ".rename";
constexpr std::size_t kMaxStateBytes = 4096;

// A regular file of aFolder open for reading, or an empty handle.
UniqueFd OpenRegular(const TFolderHandle& aFolder, const std::string& aName, struct stat& aStatus)
{
    try {
        UniqueFd fd = aFolder.OpenForReading(aName);
        if (fd && ::fstat(fd.Get(), &aStatus) == 0 && S_ISREG(aStatus.st_mode))
            return fd;
    } catch (const std::exception&) {
        // Missing, a link, a folder: nothing usable.
    }
    return UniqueFd();
}

std::string ReadSmallFile(const TFolderHandle& aFolder, const std::string& aName)
{
    struct stat status {};
    const UniqueFd fd = OpenRegular(aFolder, aName, status);
    if (!fd || status.st_size <= 0 || static_cast<std::size_t>(status.st_size) > kMaxStateBytes)
        return "";
    std::string text(static_cast<std::size_t>(status.st_size), '\0');
    const ssize_t count = ::read(fd.Get(), text.data(), text.size());
    return count == static_cast<ssize_t>(text.size()) ? text : "";
}

void RemoveQuietly(const TFolderHandle& aFolder, const std::string& aName) noexcept
{
    try {
        if (aFolder.EntryIdentity(aName))
            aFolder.Remove(aName);  // a link itself, never what it leads to
    } catch (...) {
        // Left behind, it is found not to fit or is overwritten next time.
    }
}

std::string StateText(const std::string& aSource, const std::string& aChecksum, const std::string& aValidator)
{
    return std::string(kStateHeading) + "\nsource " + aSource + "\nchecksum " + aChecksum + "\nvalidator "
           + aValidator + "\n";
}

}  // namespace

TKeptDownload::TKeptDownload(const TFolderHandle& aFolder, std::string aLocalName, std::string aSource,
                             std::string aChecksum)
    : mFolder(aFolder),
      mLocalName(std::move(aLocalName)),
      mSource(std::move(aSource)),
      mChecksum(std::move(aChecksum)),
      mPartial(mLocalName + kPartialSuffix),
      mState(mLocalName + kStateSuffix)
{
}

TResumePoint TKeptDownload::Load() const
{
    // Everything before the validator must name this very file, so that a
    // state left by another release or server is of no use.
    const std::string text = ReadSmallFile(mFolder, mState);
    const std::string prefix = StateText(mSource, mChecksum, "");
    const std::string_view head =
        std::string_view(prefix).substr(0, prefix.size() - 1);  // up to "validator "
    struct stat status {};
    if (text.size() > prefix.size() && text.compare(0, head.size(), head) == 0 && text.back() == '\n') {
        std::string validator = text.substr(head.size(), text.size() - head.size() - 1);
        const UniqueFd partial = OpenRegular(mFolder, mPartial, status);
        if (partial && status.st_size > 0 && validator.find('\n') == std::string::npos
            && OwnedPrivately(partial.Get()))
            return TResumePoint{static_cast<std::uint64_t>(status.st_size), std::move(validator)};
    }
    Forget();
    return TResumePoint{};
}

void TKeptDownload::Remember(const std::string& aValidator) const
{
    if (aValidator.empty()) {
        RemoveQuietly(mFolder, mState);
        return;
    }
    // Written in place: a torn state does not fit at the next Load and is
    // dropped, which costs a whole fetch and nothing else.
    const std::string text = StateText(mSource, mChecksum, aValidator);
    const UniqueFd fd = mFolder.OpenForWriting(mState);
    if (::ftruncate(fd.Get(), 0) != 0 || !WriteAll(fd.Get(), text))
        throw std::runtime_error("cannot write " + StatePath() + ": " + ErrnoText(errno));
}

void TKeptDownload::Forget() const noexcept
{
    RemoveQuietly(mFolder, mState);
    RemoveQuietly(mFolder, mPartial);
}

UniqueFd TKeptDownload::OpenForTransfer(const TResumePoint& aPoint) const
{
    if (aPoint.held == 0) {
        RemoveQuietly(mFolder, mPartial);
        return mFolder.CreateNew(mPartial);
    }
    UniqueFd fd = mFolder.OpenForWriting(mPartial);
    if (!OwnedPrivately(fd.Get()))
        throw std::runtime_error("cannot resume " + mLocalName + ": its kept bytes are not the user's own");
    return fd;
}

void TKeptDownload::Place(const TFileIdentity& aVerified) const
{
    PlaceVerified(mFolder, mPartial, mLocalName, aVerified);
    RemoveQuietly(mFolder, mState);
}

std::string FinalPathOf(const std::string& aName)
{
    const std::string extension = kRenameExtension;
    const auto slash = aName.find_last_of('/');
    const auto dot = aName.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)
        && aName.compare(dot, std::string::npos, extension) == 0)
        return aName.substr(0, dot);
    return aName;
}

std::optional<std::uint64_t> VerifiedFileSize(const TFolderHandle& aFolder, const std::string& aName,
                                              const std::string& aChecksum, const std::string* aSha256)
{
    struct stat status {};
    const UniqueFd fd = OpenRegular(aFolder, aName, status);
    // A file someone else made, or may change, is fetched again rather than
    // trusted: its bytes could change after they were hashed.
    if (!fd || !OwnedPrivately(fd.Get()))
        return std::nullopt;
    TFileDigestTexts digests;
    try {
        digests = DescriptorDigestTexts(fd.Get(), aName, aSha256 != nullptr);
    } catch (const std::exception&) {
        return std::nullopt;  // unreadable: fetched like any file not there
    }
    if (digests.sha1 != aChecksum || (aSha256 && !Sha256TextMatches(*aSha256, digests.sha256)))
        return std::nullopt;
    return static_cast<std::uint64_t>(status.st_size);
}
