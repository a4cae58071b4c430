// The worker's steps for signed releases (a vendor key built in): fetching
// and checking the info file's signature and the newer wizard's digest.
#include "engine/thread_downloads.h"

#include <filesystem>
#include <system_error>

#include "components/file_digests.h"
#include "engine/release_signature.h"
#include "platform/text.h"

namespace fs = std::filesystem;

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
        aAction.ExecuteTarget();
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
        return TIniReader(local);
    std::string problem;
    auto ini = ReadSignedInfoFile(mEnvironment.publicKey, local, local + ".minisig", problem);
    if (!ini)
        mHost.OperationEndedEarly(TEarlyEnd::InfoSignatureRefused, problem);
    return ini;
}

bool ThreadDownloads::WizardMatchesSignedDigest(const TIniReader& aIni, const std::string& aPath)
{
    const std::string listed = aIni.ReadString("General", kWizardSha256Key, "");
    std::string actual;
    try {
        actual = FileDigestTexts(aPath, true).sha256;
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
    fs::remove(aPath, ignored);
    return false;
}
