#include "engine/thread_downloads.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <system_error>

#include <sys/stat.h>

#include "components/file_digests.h"
#include "engine/info_address.h"
#include "engine/ini_reader.h"
#include "engine/kept_download.h"
#include "engine/release_key.h"
#include "engine/release_signature.h"
#include "engine/running_action.h"
#include "engine/safe_path.h"
#include "engine/tick_count.h"
#include "platform/posix_util.h"
#include "platform/settings.h"
#include "platform/shell_open.h"
#include "platform/system_helpers.h"
#include "platform/temp_folder.h"
#include "platform/text.h"
#include "transfer/fetch_url_text.h"
#include "transfer/url_text.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kRenameExtension = ".rename";
constexpr int kAttemptsPerFile = 3;
constexpr std::uint32_t kThrottleMs = 1000;

void DefaultShellOpen(const std::string& aPath, const std::vector<std::string>& aArgs,
                      const std::vector<std::string>& aEnvironment)
{
    ShellOpen(aPath, aArgs, TShellOpenOptions{.environment = aEnvironment});
}

// Clears the stall timer again on every way out of a transfer.
class StallTimerScope {
public:
    explicit StallTimerScope(TWorkerHost& aHost) : mHost(aHost) { mHost.EnableStallTimer(true); }
    ~StallTimerScope() { mHost.EnableStallTimer(false); }
    StallTimerScope(const StallTimerScope&) = delete;
    StallTimerScope& operator=(const StallTimerScope&) = delete;

private:
    TWorkerHost& mHost;
};

}  // namespace

TWorkerEnvironment TWorkerEnvironment::FromProcess(const std::string& aFirstArgument,
                                                   const std::vector<std::string>& aArguments)
{
    TWorkerEnvironment environment;
    environment.firstArgument = aFirstArgument;
    environment.wizardArguments = aArguments;
    environment.wizardArguments.push_back("1");
    const char* updated = std::getenv(kSelfUpdatedVariable);
    environment.selfUpdateAllowed = updated == nullptr || *updated == '\0';
    environment.publicKey = BuiltInPublicKey();
    return environment;
}

std::uint32_t TWorkerEnvironment::Now() const
{
    return tickCount ? tickCount() : MonotonicTickCount();
}

ThreadDownloads::ThreadDownloads(bool aCreateSuspended, TDownloadData& aDownloadData, TWorkerHost& aHost,
                                 TWorkerEnvironment aEnvironment)
    : mDownloadData(aDownloadData), mHost(aHost), mEnvironment(std::move(aEnvironment))
{
    if (!mEnvironment.shellOpen)
        mEnvironment.shellOpen = DefaultShellOpen;
    mDownloadData.SetRedirect(false);
    mDownloadData.SetURLRedirected("");
    mTickCount = mEnvironment.Now();
    if (!aCreateSuspended)
        Start();
}

ThreadDownloads::~ThreadDownloads()
{
    WaitFor();
}

void ThreadDownloads::Start()
{
    if (!mThread.joinable() && !mFinished)
        mThread = std::thread([this] { Execute(); });
}

void ThreadDownloads::SetOnTerminate(std::function<void()> aHandler)
{
    mOnTerminate = std::move(aHandler);
}

void ThreadDownloads::WaitFor()
{
    if (mThread.joinable() && mThread.get_id() != std::this_thread::get_id())
        mThread.join();
}

void ThreadDownloads::Execute()
{
    mDownloadData.SetResult(true);
    mDownloadData.SetCancelado(false);
    // A cancel sent to this worker before its run began still counts: only a
    // previous operation's cancel is forgotten here.
    if (mTerminated)
        mDownloadData.SetCancelado(true);
    mDownloadData.SetTerminado(false);
    mDownloadData.SetMostrarProgreso(false);
    try {
        switch (mDownloadData.Operacion()) {
        case TWebOperation::twoConfiguration: RunConfiguration(); break;
        case TWebOperation::twoDownloader: RunDownloaderLaunch(); break;
        case TWebOperation::twoDownload: RunDownload(); break;
        case TWebOperation::twoInstall: RunInstall(); break;
        }
    } catch (...) {
        // An error ends the operation quietly; the outcome fields tell the rest.
    }
    mDownloadData.SetTerminado(true);
    mFinished = true;
    if (mOnTerminate)
        mOnTerminate();
}

bool ThreadDownloads::CancelDownload()
{
    // This order, against Execute's clear-then-look, keeps a cancel that meets
    // the start of a run from being wiped by it.
    mTerminated = true;
    mDownloadData.SetCancelado(true);
    {
        std::lock_guard lock(mPauseMutex);
    }
    mPauseWake.notify_all();
    AbortRunningTransfer();
    mHost.EnableStallTimer(false);
    return true;
}

void ThreadDownloads::mTickCheckTimer()
{
    if (static_cast<std::uint32_t>(mEnvironment.Now() - mTickCount.load()) > kWorkerStallLimitMs)
        AbortRunningTransfer();
}

void ThreadDownloads::AbortRunningTransfer()
{
    std::lock_guard lock(mDownloaderMutex);
    if (mDownloader != nullptr)
        if (auto binding = mDownloader->Binding())
            binding->Abort();
}

void ThreadDownloads::PauseAfterConfiguration()
{
    std::unique_lock lock(mPauseMutex);
    mPauseWake.wait_for(lock, mEnvironment.configurationPause, [this] { return mTerminated.load(); });
}

void ThreadDownloads::OpenWithShell(const std::string& aPath, const std::vector<std::string>& aArgs)
{
    std::vector<std::string> environment;
    if (mDownloadData.Operacion() == TWebOperation::twoDownloader)
        environment.push_back(std::string(kSelfUpdatedVariable) + "=1");
    mEnvironment.shellOpen(aPath, aArgs, environment);
}

// ---------------------------------------------------------------------------
// Launches

void ThreadDownloads::RunDownloaderLaunch()
{
    const std::string name = mDownloadData.ArchivoDownloader();
    if (mDownloadData.Cancelado() || IsBlank(name))
        return;
    if (!IsPlainFileName(name))
        throw std::runtime_error("refusing wizard name " + name);
    const std::string path = GetTempFolder(kTempSubFolder) + name;
    mDownloadData.SetArchivoDownloader(path);
    OpenWithShell(path, mEnvironment.wizardArguments);
}

void ThreadDownloads::RunInstall()
{
    const std::string setup = mDownloadData.ArchSetup();
    if (mDownloadData.Cancelado() || IsBlank(setup))
        return;
    const std::string localName = LocalFileName(setup);
    const auto path = JoinInside(mDownloadData.CarpetaDestino(), localName);
    if (!path)
        throw std::runtime_error("refusing setup name " + setup);
    // Every component examined without following a link: the name must still
    // be the regular file the download placed there, not a link planted since.
    // A missing one is the launcher's to report, as before.
    const TFolderHandle folder(mDownloadData.CarpetaDestino());
    if (folder.EntryIdentity(localName) && !folder.IsRegularFile(localName))
        throw std::runtime_error("refusing setup name " + setup + ": it is not a regular file");
    mDownloadData.SetArchSetup(*path);
    OpenWithShell(*path, {});
}

// ---------------------------------------------------------------------------
// File download

void ThreadDownloads::RunDownload()
{
    mDownloadData.SetTotal(0);
    mDownloadData.SetAcumulado(0);
    mDownloadData.SetAcumuladosEnteros(0);
    mDownloadData.SetTAcumStart(0);
    mDownloadData.SetArchHeld(0);
    mDownloadData.SetAcumHeld(0);
    const bool resume = mEnvironment.resume || mDownloadData.Resume();

    // The copy the configuration checked, checked again: the download trusts
    // only what is signed.
    const std::optional<TIniReader> read = ReadInfoFile();
    if (!read) {
        mDownloadData.SetResult(false);
        return;
    }
    const TIniReader& ini = *read;
    // Signed releases may list SHA-256 digests as well; each file must then
    // match both.
    const bool checkSha256 = !mEnvironment.publicKey.empty() && ini.SectionHasKeys(kChecksum256Section);
    std::int32_t total = 0;
    while (ini.ValueExists("Downloads", "File" + std::to_string(total + 1)))
        ++total;
    mDownloadData.SetTotal(total);
    mDownloadData.SetMostrarProgreso(true);
    mDownloadData.SetNumber(1);

    // One action for the whole release: its connection serves every file.
    TDownLoadURL action;
    action.SetDigestWhileWriting(true, checkSha256);
    action.SetOnDownloadProgress([this](TDownLoadURL& aSender, std::uint64_t aProgress,
                                        std::uint64_t aProgressMax, TURLDownloadStatus aStatusCode,
                                        const std::string& aStatusText, bool& aCancel) {
        if (mKept != nullptr && aStatusCode == TURLDownloadStatus::dsBeginDownloadData)
            KeptReplyBegins(aSender);
        DownloadProgress(aSender, aProgress, aProgressMax, aStatusCode, aStatusText, aCancel);
    });
    const RunningAction running(mDownloaderMutex, mDownloader, action);
    // Held for the whole operation; opened at the first file, so that an
    // empty list needs no folder.
    std::optional<TFolderHandle> destination;

    bool goOn = true;
    do {
        if (mDownloadData.Cancelado())
            break;
        const std::string key = "File" + std::to_string(mDownloadData.Number());
        if (!ini.ValueExists("Downloads", key)) {
            goOn = false;
        } else {
            mDownloadData.SetArchivoDown(ini.ReadString("Downloads", key, " "));
            mDownloadData.SetArchivoHash(ini.ReadString("Checksum", key, " "));
            const std::string sha256 = checkSha256 ? ini.ReadString(kChecksum256Section, key, "") : "";
            if (IsBlank(mDownloadData.ArchivoDown())) {
                goOn = false;
            } else {
                const std::string name = mDownloadData.ArchivoDown();
                const std::string localName = LocalFileName(name);
                mHost.FileStarted(name, mDownloadData.Number(), mDownloadData.Total());
                // A server's info file may not have the user's own files copied.
                if (!IsLocationAllowed(mDownloadData.ArchIniRemoto(), mDownloadData.CarpetaOrigen())) {
                    mDownloadData.SetResult(false);
                    mHost.AttemptFailed(name, 1, LocationRefusedText(mDownloadData.CarpetaOrigen()));
                    break;
                }
                const auto target = JoinInside(mDownloadData.CarpetaDestino(), localName);
                if (!target) {
                    // A name that leads out of the destination folder fails
                    // its entry without a transfer.
                    mDownloadData.SetResult(false);
                    mHost.AttemptFailed(name, 1,
                                        "refusing file name " + name + ": " + RefusedNameReason(localName));
                    break;
                }
                if (!destination) {
                    try {
                        destination.emplace(mDownloadData.CarpetaDestino());
                    } catch (const std::exception& error) {
                        mDownloadData.SetResult(false);
                        mHost.AttemptFailed(name, 1, error.what());
                        break;
                    }
                }
                DownloadWithAttempts(action, *destination, name, localName, *target, resume,
                                     checkSha256 ? &sha256 : nullptr);
                if (!mDownloadData.Result())
                    break;
                mDownloadData.SetAcumuladosEnteros(mDownloadData.Acumulado());
                mDownloadData.SetAcumHeld(mDownloadData.AcumHeld()
                                          + static_cast<double>(mDownloadData.ArchHeld()));
                mDownloadData.SetArchHeld(0);
            }
        }
        mDownloadData.SetNumber(mDownloadData.Number() + 1);
    } while (goOn);
}

// Gives one listed file its attempts; Result tells whether it ended verified
// and placed.
void ThreadDownloads::DownloadWithAttempts(TDownLoadURL& aAction, const TFolderHandle& aFolder,
                                           const std::string& aName, const std::string& aLocalName,
                                           const std::string& aTarget, bool aResume,
                                           const std::string* aSha256)
{
    const std::string source = mDownloadData.CarpetaOrigen() + "/" + aLocalName;
    mDownloadData.SetTStart(0);
    mDownloadData.SetRedirect(false);
    mDownloadData.SetURLRedirected("");

    // In resume mode the transfer fills a kept file, which becomes the listed
    // file once it is complete.
    std::optional<TKeptDownload> kept;
    if (aResume) {
        kept.emplace(aFolder, aLocalName, source, mDownloadData.ArchivoHash());
        if (SkipVerifiedFile(aName, aFolder, aLocalName, *kept, aSha256))
            return;
    }
    struct KeptScope {
        const TKeptDownload*& mSlot;
        ~KeptScope() { mSlot = nullptr; }
    } keptScope{mKept};
    mKept = kept ? &*kept : nullptr;
    mKeptBegun = false;

    int attempts = 0;
    do {
        ++attempts;
        std::string reason;
        try {
            const std::string redirected = mDownloadData.URLRedirected();
            aAction.SetURL(mDownloadData.Redirect() && !redirected.empty() ? redirected : source);
            // Opened at each attempt: an entry swapped for a link since the
            // last one is refused here.
            const std::string written = kept ? kept->PartialName() : aLocalName;
            aAction.SetFilename(kept ? kept->PartialPath() : aTarget);
            aAction.SetTargetOpener([&aFolder, written] { return aFolder.OpenForWriting(written); });
            aAction.SetResume(kept ? std::optional<TResumePoint>(kept->Load()) : std::nullopt);
            {
                StallTimerScope stallTimer(mHost);
                aAction.ExecuteTarget();
            }
            if (kept)
                kept->Complete();
            TFileIdentity checked;
            mDownloadData.SetResult(CheckFileHash(aFolder, aLocalName, aAction, aSha256, reason, checked));
            // No cached copy to drop: transfers always go to the server.
            if (mDownloadData.Result())
                RenameDownloaded(aFolder, aLocalName, checked);
        } catch (const std::exception& error) {
            mDownloadData.SetResult(false);
            reason = error.what();
            if (mDownloadData.Redirect())
                reason += " (redirected to " + mDownloadData.URLRedirected() + ")";
            // A server that will not give the rest gets asked for all of it next.
            if (kept && aAction.RangeRefused())
                kept->Forget();
        }
        if (mDownloadData.Result())
            mHost.FileVerified(aName);
        else if (!mDownloadData.Cancelado())
            mHost.AttemptFailed(aName, attempts, reason);  // a cancel is reported as such, not as a failure
    } while (!mDownloadData.Result() && attempts < kAttemptsPerFile && !mDownloadData.Cancelado());
}

bool ThreadDownloads::CheckFileHash(const TFolderHandle& aFolder, const std::string& aName,
                                    TDownLoadURL& aAction, const std::string* aSha256, std::string& aReason,
                                    TFileIdentity& aChecked)
{
    const std::string expected = mDownloadData.ArchivoHash();
    const std::optional<TFileDigestTexts> written = aAction.TakeWrittenDigest();
    const auto& writtenFile = aAction.WrittenFile();
    const UniqueFd file = aFolder.OpenForReading(aName);
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0)
        throw std::runtime_error("cannot read " + aName + ": " + ErrnoText(errno));
    aChecked = TFileIdentity{info.st_dev, info.st_ino};
    const bool same = written && (!aSha256 || !written->sha256.empty()) && writtenFile
                      && aChecked == writtenFile->identity
                      && static_cast<std::uint64_t>(info.st_size) == writtenFile->size;
    // Both digests from one read of the file when both are asked for.
    const TFileDigestTexts actual =
        same ? *written : DescriptorDigestTexts(file.Get(), aName, aSha256 != nullptr);
    if (expected != actual.sha1) {
        aReason = "checksum mismatch for " + mDownloadData.ArchivoDown() + ": expected " + expected + ", got "
                  + actual.sha1;
        return false;
    }
    if (aSha256 && !Sha256TextMatches(*aSha256, actual.sha256)) {
        aReason = "SHA-256 mismatch for " + mDownloadData.ArchivoDown() + ": expected " + *aSha256 + ", got "
                  + actual.sha256;
        return false;
    }
    return true;
}

void ThreadDownloads::DownloadProgress(TDownLoadURL& /*aSender*/, std::uint64_t aProgress,
                                       std::uint64_t aProgressMax, TURLDownloadStatus aStatusCode,
                                       const std::string& aStatusText, bool& aCancel)
{
    const std::uint32_t now = mEnvironment.Now();
    const bool dataArriving = aStatusCode == TURLDownloadStatus::dsDownloadingData;
    if (!dataArriving)
        mDownloadData.SetStatusCode(aStatusCode);

    switch (aStatusCode) {
    case TURLDownloadStatus::dsRedirecting:
        // The next attempt goes straight to the target.
        mDownloadData.SetRedirect(true);
        mDownloadData.SetURLRedirected(aStatusText);
        aCancel = true;
        return;
    case TURLDownloadStatus::dsBeginDownloadData: mDownloadData.SetDownloadingURL(aStatusText); return;
    case TURLDownloadStatus::dsCacheFileNameAvailable: mDownloadData.SetLastCacheURL(aStatusText); return;
    default: break;
    }

    if (!dataArriving || static_cast<std::uint32_t>(now - mTickCount.load()) > kThrottleMs) {
        if (mDownloadData.TStart() == 0)
            mDownloadData.SetTStart(now);
        if (mDownloadData.TAcumStart() == 0)
            mDownloadData.SetTAcumStart(now);
        mDownloadData.SetAcumulado(static_cast<double>(aProgress) + mDownloadData.AcumuladosEnteros());
        mDownloadData.SetArchProgreso(aProgress);
        mDownloadData.SetArchProgresoMax(aProgressMax);
        mDownloadData.SetStatusCode(aStatusCode);
        mDownloadData.SetStatusText(aStatusText);
        mTickCount = now;
        mHost.PostProgress();
    }

    aCancel = mDownloadData.Cancelado();
    if (aCancel)
        mTerminated = true;
}

// ---------------------------------------------------------------------------
// Helpers

std::int32_t ThreadDownloads::VersionToInt(const std::string& aVersion)
{
    return ::VersionToInt(aVersion);
}

std::string ThreadDownloads::GetTempFolder(const std::string& aFolderName)
{
    std::string sub;
    if (!IsBlank(aFolderName)) {
        std::string name = aFolderName;
        while (!name.empty() && name.back() == '/')
            name.pop_back();
        const auto slash = name.find_last_of('/');
        sub = (slash == std::string::npos ? name : name.substr(slash + 1)) + "/";
    }
    std::string temp = UserTempFolder();
    if (temp.empty() || temp.back() != '/')
        temp += '/';
    const std::string folder = temp + sub;
    EnsurePrivateFolder(folder);
    return folder;
}

bool ThreadDownloads::IsURL(const std::string& aAddress, std::string& aConverted)
{
    return ::IsURL(aAddress, aConverted);
}

std::string ThreadDownloads::ExtractURLFileName(const std::string& aAddress)
{
    return ::ExtractURLFileName(aAddress);
}

void ThreadDownloads::RenameDownloaded(const TFolderHandle& aFolder, const std::string& aName,
                                       const TFileIdentity& aVerified)
{
    const fs::path path(aName);
    if (path.extension().string() != kRenameExtension)
        return;
    // A link or another file put there since the check would be moved to the
    // final name, where setup or the user would then open it.
    if (!aFolder.IsRegularFile(aName) || aFolder.EntryIdentity(aName) != aVerified)
        throw std::runtime_error("cannot place " + aName
                                 + ": it was replaced after its checksum was checked");
    fs::path target = path;
    target.replace_extension();
    const std::string targetName = target.string();
    try {
        // Only a file (or a link itself) is deleted, never a folder; and a
        // name that could not be freed is not taken over.
        if (aFolder.EntryIdentity(targetName) && !aFolder.IsFolder(targetName))
            aFolder.Remove(targetName);
        aFolder.RenameNoReplace(aName, targetName);
    } catch (const std::exception&) {
        // As with any refused move: the file keeps its ".rename" name.
    }
}

bool ThreadDownloads::RenameDownloaded(const std::string& aFileName)
{
    try {
        const fs::path path(aFileName);
        if (path.extension().string() != kRenameExtension)
            return true;
        fs::path target = path;
        target.replace_extension();
        std::error_code error;
        // Only a file is deleted, never a folder; and a name that could not
        // be freed is not taken over: the file keeps its ".rename" name.
        if (fs::exists(target, error) && !fs::is_directory(target, error))
            fs::remove(target, error);
        if (!fs::exists(fs::symlink_status(target, error)))
            fs::rename(path, target, error);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
