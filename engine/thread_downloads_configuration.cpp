// The worker's configuration: where the info file is, fetching and reading
// it, and the self-update it may offer.

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "engine/info_address.h"
#include "engine/ini_reader.h"
#include "engine/kept_download.h"
#include "engine/listed_size.h"
#include "engine/private_download.h"
#include "engine/running_action.h"
#include "engine/safe_path.h"
#include "engine/thread_downloads.h"
#include "engine/update_source.h"
#include "platform/settings.h"
#include "platform/system_helpers.h"
#include "platform/text.h"
#include "transfer/fetch_url_text.h"
#include "transfer/url_text.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kDefaultInfoService =
    "http://info.corvane.invalid/cgi-local/QVDownloader_GetInfo.asp?INFOFILE=25";
constexpr const char* kServiceQuery = "?INFOFILE=";
constexpr const char* kUpdateNotice = "Downloader Update ";
constexpr std::size_t kServiceReplySize = 10000;

// Reads the first reply of an info service; a failed or cancelled fetch
// gives "".
std::string FetchServiceReply(const std::string& aAddress, const std::atomic<bool>& aCancelled)
{
    std::string reply;
    FetchURLText(aAddress, reply, kServiceReplySize, 0, 0, &aCancelled);
    return AnsiToUtf8(reply);
}

}  // namespace

std::string ThreadDownloads::GetInfoFileURL(TEarlyEnd& aWhyEmpty, std::string& aDetail)
{
    std::string embedded;
    try {
        embedded = mEnvironment.embeddedURL ? mEnvironment.embeddedURL() : ReadEmbeddedURL();
    } catch (const std::exception&) {
        // No address built in: the settings and the command line decide.
    }
    if (!embedded.empty()) {
        aWhyEmpty = TEarlyEnd::ServiceGaveNoAddress;
        return FetchServiceReply(embedded, mTerminated);
    }

    const HKEY root = SettingsRootKey.load();
    const std::string infoFile = RegReadString(root, kProgramSettingsKey, "INIConfig", "");
    if (!IsBlank(infoFile))
        return infoFile;

    if (!IsBlank(mEnvironment.firstArgument)) {
        std::string service = RegReadString(root, kProgramSettingsKey, "URLConfig", "");
        if (IsBlank(service))
            service = kDefaultInfoService;
        aWhyEmpty = TEarlyEnd::ServiceGaveNoAddress;
        aDetail = mEnvironment.firstArgument;
        return FetchServiceReply(service + kServiceQuery + mEnvironment.firstArgument, mTerminated);
    }
    aWhyEmpty = TEarlyEnd::NoInfoAddress;
    return infoFile;
}

void ThreadDownloads::RunConfiguration()
{
    mDownloadData.SetRestart(false);
    TEarlyEnd whyEmpty = TEarlyEnd::NoInfoAddress;
    std::string emptyDetail;
    const std::string address = GetInfoFileURL(whyEmpty, emptyDetail);
    mDownloadData.SetUpdateRefused("");
    mDownloadData.SetArchIniRemoto(address);
    // The number handed to the service is the one a signed file must name.
    mReleaseAsked = whyEmpty == TEarlyEnd::ServiceGaveNoAddress ? emptyDetail : "";
    if (IsBlank(address))
        mHost.OperationEndedEarly(whyEmpty, emptyDetail);

    const std::string name = InfoFileLocalName(address);

    // Held for this operation and the ones after it: every file of the
    // folder is reached through this descriptor.
    mDownloadData.SetPrivateFolder(nullptr);
    mDownloadData.SetVerifiedWizard(nullptr);
    std::shared_ptr<const TFolderHandle> privateFolder;
    try {
        privateFolder = std::make_shared<const TFolderHandle>(OpenTempFolder(kTempSubFolder));
    } catch (const std::exception& error) {
        // A private folder that cannot be trusted is as bad as no info file.
        mDownloadData.SetResult(false);
        mHost.OperationEndedEarly(TEarlyEnd::PrivateFolderRefused, error.what());
        return;
    }
    mDownloadData.SetPrivateFolder(privateFolder);
    const std::string tempFolder = privateFolder->Path();
    mDownloadData.SetArchIniLocal(tempFolder + name);

    TDownLoadURL action;
    const RunningAction running(mDownloaderMutex, mDownloader, action);
    try {
        // A cancel that came before the transfer could start counts as a
        // failed transfer: nothing was fetched.
        if (mTerminated)
            throw TransferError("cancelled");
        action.SetURL(address);
        action.SetFilename(mDownloadData.ArchIniLocal());
        action.SetTargetOpener([&privateFolder, name] { return privateFolder->OpenForWriting(name); });
        action.SetByteLimit(kInfoFileByteLimit);
        action.ExecuteTarget();
        action.SetTargetOpener(nullptr);
    } catch (const std::exception& error) {
        mDownloadData.SetResult(false);
        mHost.OperationEndedEarly(TEarlyEnd::InfoFileNotFetched, error.what());
        return;
    }
    RenameDownloaded(action.Filename());

    if (!mEnvironment.publicKey.empty() && !FetchInfoSignature(action, address)) {
        mDownloadData.SetResult(false);
        return;
    }
    const std::optional<TIniReader> read = ReadInfoFile();
    if (!read) {
        mDownloadData.SetResult(false);
        return;
    }
    const TIniReader& ini = *read;
    if (ini.Truncated()) {
        // Read in part, a release would lose its last files or checksums
        // without a sign: no info file is better than half of one.
        mDownloadData.SetResult(false);
        mHost.OperationEndedEarly(TEarlyEnd::InfoFileTruncated, "");
        return;
    }
    // A Version that cannot be read offers no newer wizard; the release
    // itself is still worth reading.
    std::int32_t remoteVersion = 0;
    bool versionRead = true;
    const std::string versionText = ini.ReadString("General", "Version", "0");
    try {
        remoteVersion = VersionToInt(versionText);
    } catch (const std::invalid_argument&) {
        versionRead = false;
        mHost.VersionUnreadable(versionText);
    }
    mDownloadData.SetCarpetaOrigen(ini.ReadString("Downloads", "Path", " "));
    mDownloadData.SetArchivoDownloader(ini.ReadString("General", "Downloader", " "));
    mDownloadData.SetArchSetup(ini.ReadString("General", "Setup", " "));
    mDownloadData.SetCarpetaDownloader(ini.ReadString("General", "Path", " "));
    mDownloadData.SetLine1(ini.ReadString("Info", "Line1", " "));
    mDownloadData.SetLink(ini.ReadString("Info", "Link", " "));
    mDownloadData.SetInfoLink(ini.ReadString("Info", "Info Link", " "));
    mDownloadData.SetTotalFiles(ini.ReadString("Info", "Total Files", " "));
    mDownloadData.SetInfoSize(ini.ReadString("Info", "Info Size", " "));
    mDownloadData.SetSize(ini.ReadFloat("Info", "Size"));
    mDownloadData.SetEnd1(ini.ReadString("Info", "End1", " "));
    mDownloadData.SetEnd2(ini.ReadString("Info", "End2", " "));
    mDownloadData.SetResume(ini.ReadString("Downloads", "Resume", " ") == "1");

    if (versionRead && remoteVersion > mDownloadData.VersionLocal() && mEnvironment.selfUpdateAllowed
        && !mTerminated) {
        const std::string wizardName = mDownloadData.ArchivoDownloader();
        if (!IsPlainFileName(wizardName))
            throw std::runtime_error("refusing wizard name " + wizardName);
        const std::string wizardAddress = mDownloadData.CarpetaDownloader() + "/" + wizardName;
        // Not fetched, the release goes on as after a failed self-update: a
        // web info file may not pick a program of this machine, and unsigned,
        // a program fetched over plain http is whatever anyone on the path
        // made it.
        std::string refusal;
        if (!IsLocationAllowed(address, mDownloadData.CarpetaDownloader()))
            refusal = LocationRefusedText(mDownloadData.CarpetaDownloader());
        else if (mEnvironment.publicKey.empty() && !UnsignedUpdateAllowed(address, wizardAddress))
            refusal = "a wizard without a signing key starts a newer one only when it and the info file come"
                      " over https or from local files";
        if (!refusal.empty()) {
            mDownloadData.SetUpdateRefused("newer wizard " + wizardName + " not fetched: " + refusal);
            PauseAfterConfiguration();
            return;
        }
        action.SetURL(wizardAddress);
        action.SetFilename(tempFolder + wizardName);
        action.SetTargetOpener(
            [&privateFolder, wizardName] { return privateFolder->OpenForWriting(wizardName); });
        action.SetByteLimit(ListedSize(ini, kWizardSizeKey, wizardName));
        action.ExecuteTarget();
        action.SetTargetOpener(nullptr);
        // Held from here to its start: its check and its start see one file,
        // placed under its final name through the folder's descriptor too.
        UniqueFd fetched = privateFolder->OpenForReading(wizardName);
        const std::optional<TFileIdentity> identity = IdentityOf(fetched.Get());
        if (!identity)
            throw std::runtime_error("cannot read " + wizardName);
        if (FinalPathOf(wizardName) != wizardName)
            PlaceVerified(*privateFolder, wizardName, wizardName, *identity);
        const std::string placed = privateFolder->EntryIdentity(wizardName) == identity
                                       ? wizardName
                                       : fs::path(wizardName).replace_extension().string();
        auto wizard = std::make_shared<TVerifiedProgram>(
            TVerifiedProgram{TVerifiedFile(std::move(fetched), tempFolder + placed), placed, "", ""});
        // As after a failed self-update, the release goes on without it.
        if (!mEnvironment.publicKey.empty() && !WizardMatchesSignedDigest(ini, *wizard))
            return;
        mDownloadData.SetVerifiedWizard(std::move(wizard));
        mDownloadData.SetRestart(true);
        mDownloadData.SetMensaje(std::string(kUpdateNotice) + kVersion);
    }
    PauseAfterConfiguration();
}
