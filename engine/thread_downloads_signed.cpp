// The worker's steps for signed releases (a vendor key built in): fetching
// and checking the info file's signature and the newer wizard's digest.
#include "engine/thread_downloads.h"

#include <filesystem>
#include <system_error>

#include "components/file_digests.h"
#include "engine/release_signature.h"
#include "engine/signed_info_freshness.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

// The local copy through the private folder's descriptor when it lies
// there, as it does after a configuration; else by its name.
TIniReader ReadInfoCopy(const TFolderHandle* aFolder, const std::string& aLocal)
{
    if (aFolder == nullptr || !aLocal.starts_with(aFolder->Path()))
        return TIniReader(aLocal);
    try {
        const UniqueFd file = aFolder->OpenForReading(aLocal.substr(aFolder->Path().size()));
        return TIniReader::FromDescriptor(file.Get());
    } catch (const std::exception&) {
        return TIniReader::FromBytes("");  // missing or unusable: every key is missing
    }
}

}  // namespace

bool ThreadDownloads::FetchInfoSignature(TDownLoadURL& aAction, const std::string& aInfoAddress)
{
    const std::string address = SignatureAddress(aInfoAddress);
    const std::string file = mDownloadData.ArchIniLocal() + ".minisig";
    // A signature left by an earlier run must never stand in for this one.
    std::error_code ignored;
    fs::remove(file, ignored);
    try {
        if (mTerminated)
            throw TransferError("cancelled");
        aAction.SetURL(address);
        aAction.SetFilename(file);
        if (const auto folder = mDownloadData.PrivateFolder()) {
            const std::string name = fs::path(file).filename().string();
            aAction.SetTargetOpener([folder, name] { return folder->OpenForWriting(name); });
        }
        aAction.SetByteLimit(kSignatureByteLimit);
        aAction.ExecuteTarget();
        aAction.SetTargetOpener(nullptr);
        return true;
    } catch (const std::exception& error) {
        mHost.OperationEndedEarly(
            TEarlyEnd::InfoSignatureRefused,
            // The address and the error come from the server's side.
            PrintableText("cannot fetch " + TrimControl(address) + ": " + error.what()));
        return false;
    }
}

std::optional<TIniReader> ThreadDownloads::ReadInfoFile()
{
    const std::string local = mDownloadData.ArchIniLocal();
    if (mEnvironment.publicKey.empty())
        return ReadInfoCopy(mDownloadData.PrivateFolder().get(), local);
    std::string problem;
    std::string comment;
    auto ini = ReadSignedInfoFile(mEnvironment.publicKey, local, local + ".minisig", problem, &comment);
    if (!ini) {
        mHost.OperationEndedEarly(TEarlyEnd::InfoSignatureRefused, problem);
        return ini;
    }
    // Genuine is not enough: an older release's genuine file served here, or
    // an older copy of this one, would be believed as well.
    const std::string address = mDownloadData.ArchIniRemoto();
    std::uint64_t timestamp = 0;
    auto refusal = SignedInfoMismatch(*ini, comment, address, mReleaseAsked, timestamp);
    if (!refusal)
        refusal = AcceptSignedTimestamp(address, timestamp);
    if (refusal) {
        mHost.OperationEndedEarly(TEarlyEnd::SignedInfoRefused, *refusal);
        return std::nullopt;
    }
    return ini;
}

bool ThreadDownloads::WizardMatchesSignedDigest(const TIniReader& aIni, TVerifiedProgram& aWizard)
{
    const std::string listed = aIni.ReadString("General", kWizardSha256Key, "");
    const std::string path = aWizard.file.Path();
    std::string actual;
    try {
        // Through the descriptor that is started later, never the name again.
        actual = DescriptorDigestTexts(aWizard.file.Fd(), path, true).sha256;
        aWizard.sha256 = actual;
    } catch (const std::exception&) {
        // Nothing to start at that name: no digest can match.
    }
    if (Sha256TextMatches(listed, actual))
        return true;
    const std::string name = mDownloadData.ArchivoDownloader();
    mDownloadData.SetUpdateRefused(
        IsBlank(listed)
            ? "newer wizard " + name + " not started: the signed info file gives no " + kWizardSha256Key
            : "newer wizard " + name + " not started: it does not match its " + kWizardSha256Key);
    // Not left where a later run could start it.
    std::error_code ignored;
    fs::remove(path, ignored);
    return false;
}
