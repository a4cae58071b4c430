// The worker's configuration: where the info file is, fetching and reading
// it, and the self-update it may offer.

#include <stdexcept>
#include <string>

#include "engine/info_address.h"
#include "engine/ini_reader.h"
#include "engine/running_action.h"
#include "engine/safe_path.h"
#include "engine/thread_downloads.h"
#include "platform/settings.h"
#include "platform/system_helpers.h"
#include "platform/text.h"
#include "transfer/fetch_url_text.h"
#include "transfer/url_text.h"

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
    if (IsBlank(address))
        mHost.OperationEndedEarly(whyEmpty, emptyDetail);

    const std::string name = InfoFileLocalName(address);

    std::string tempFolder;
    try {
        tempFolder = GetTempFolder(kTempSubFolder);
    } catch (const std::exception& error) {
        // A private folder that cannot be trusted is as bad as no info file.
        mDownloadData.SetResult(false);
        mHost.OperationEndedEarly(TEarlyEnd::PrivateFolderRefused, error.what());
        return;
    }
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
        action.ExecuteTarget();
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
        if (!IsLocationAllowed(address, mDownloadData.CarpetaDownloader()))
            throw std::runtime_error(LocationRefusedText(mDownloadData.CarpetaDownloader()));
        action.SetURL(mDownloadData.CarpetaDownloader() + "/" + wizardName);
        action.SetFilename(GetTempFolder(kTempSubFolder) + wizardName);
        action.ExecuteTarget();
        RenameDownloaded(action.Filename());
        // As after a failed self-update, the release goes on without it.
        if (!mEnvironment.publicKey.empty() && !WizardMatchesSignedDigest(ini, action.Filename()))
            return;
        mDownloadData.SetRestart(true);
        mDownloadData.SetMensaje(std::string(kUpdateNotice) + kVersion);
    }
    PauseAfterConfiguration();
}
