#include "engine/thread_downloads.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

#include "components/file_digests.h"
#include "engine/info_address.h"
#include "engine/ini_reader.h"
#include "engine/kept_download.h"
#include "engine/listed_size.h"
#include "engine/private_download.h"
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
                      const std::vector<std::string>& aEnvironment, int aFd)
{
    if (aFd >= 0)
        ShellOpenDescriptor(aFd, aPath, aArgs, TShellOpenOptions{.environment = aEnvironment});
    else
        ShellOpen(aPath, aArgs, TShellOpenOptions{.environment = aEnvironment});
}

constexpr const char* kNotVerifiedHere = "it is not a file this run verified";

// The listed name without the ".rename" that the placement drops.
std::string PlacedName(const std::string& aLocalName)
{
    const fs::path path(aLocalName);
    return path.extension().string() == kRenameExtension ? fs::path(path).replace_extension().string()
                                                         : aLocalName;
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

void ThreadDownloads::OpenWithShell(const std::string& aPath, const std::vector<std::string>& aArgs, int aFd)
{
    std::vector<std::string> environment;
    if (mDownloadData.Operacion() == TWebOperation::twoDownloader)
        environment.push_back(std::string(kSelfUpdatedVariable) + "=1");
    mEnvironment.shellOpen(aPath, aArgs, environment, aFd);
}

std::string ThreadDownloads::LaunchProblem(TVerifiedProgram& aProgram, const TFolderHandle& aFolder,
                                           bool aRehash)
{
    // The name first: what the user sees there is what they expect to run.
    if (std::string problem = NameStillLeadsTo(aFolder, aProgram.localName, aProgram.file); !problem.empty())
        return problem;
    // The execute bit before the last look, so that the look sees the mode
    // the program starts with.
    if (aProgram.file.IsProgram())
        if (std::string problem = aProgram.file.MakeRunnable(); !problem.empty())
            return problem;
    if (std::string problem = aProgram.file.Recheck(); !problem.empty())
        return problem;
    if (!aRehash)
        return "";
    if (::lseek(aProgram.file.Fd(), 0, SEEK_SET) != 0)
        return "cannot read it again: " + ErrnoText(errno);
    TFileDigestTexts digests;
    try {
        digests = DescriptorDigestTexts(aProgram.file.Fd(), aProgram.localName, !aProgram.sha256.empty());
    } catch (const std::exception& error) {
        return error.what();
    }
    if (digests.sha1 != aProgram.sha1)
        return "it no longer matches its checksum";
    if (!aProgram.sha256.empty() && !Sha256TextMatches(aProgram.sha256, digests.sha256))
        return "it no longer matches its SHA-256";
    return "";
}

// ---------------------------------------------------------------------------
// Launches

void ThreadDownloads::RunDownloaderLaunch()
{
    mDownloadData.SetLaunchProblem("");
    const std::string name = mDownloadData.ArchivoDownloader();
    if (mDownloadData.Cancelado() || IsBlank(name))
        return;
    if (!IsPlainFileName(name))
        throw std::runtime_error("refusing wizard name " + name);
    const std::shared_ptr<TVerifiedProgram> wizard = mDownloadData.VerifiedWizard();
    const std::shared_ptr<const TFolderHandle> folder = mDownloadData.PrivateFolder();
    if (!wizard || !folder) {
        mDownloadData.SetArchivoDownloader(GetTempFolder(kTempSubFolder) + name);
        mDownloadData.SetLaunchProblem(kNotVerifiedHere);
        mDownloadData.SetResult(false);
        return;
    }
    mDownloadData.SetArchivoDownloader(wizard->file.Path());
    // Fetched and checked by the configuration just before, without a page
    // to wait on: its digest is not taken again.
    if (std::string problem = LaunchProblem(*wizard, *folder, false); !problem.empty()) {
        mDownloadData.SetLaunchProblem(problem);
        mDownloadData.SetResult(false);
        return;
    }
    OpenWithShell(wizard->file.Path(), mEnvironment.wizardArguments, wizard->file.Fd());
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
    const TFolderHandle folder(mDownloadData.CarpetaDestino());
    if (folder.EntryIdentity(localName) && !folder.IsRegularFile(localName))
        throw std::runtime_error("refusing setup name " + setup + ": it is not a regular file");
    mDownloadData.SetArchSetup(*path);
    // Started only as the download verified it, from the descriptor held
    // since: never whatever the name leads to by now. Without one, the
    // download may have said why.
    const std::shared_ptr<TVerifiedProgram> held = mDownloadData.VerifiedSetup();
    const std::string notHeld = mDownloadData.LaunchProblem();
    mDownloadData.SetLaunchProblem("");
    std::string problem = !held || held->localName != localName || held->file.Path() != *path
                              ? (held || notHeld.empty() ? kNotVerifiedHere : notHeld)
                              : LaunchProblem(*held, folder, mEnvironment.rehashSetup);
    if (!problem.empty()) {
        mDownloadData.SetLaunchProblem(std::move(problem));
        mDownloadData.SetResult(false);
        return;
    }
    OpenWithShell(*path, {}, held->file.Fd());
}

void ThreadDownloads::HoldVerifiedSetup(const TIniReader& aIni, const TFolderHandle& aFolder, bool aSha256)
{
    const std::string setup = mDownloadData.ArchSetup();
    if (IsBlank(setup))
        return;
    const std::string setupName = LocalFileName(setup);
    for (std::int32_t number = 1; number <= mDownloadData.Total(); ++number) {
        const std::string key = "File" + std::to_string(number);
        if (PlacedName(LocalFileName(aIni.ReadString("Downloads", key, " "))) != setupName)
            continue;
        const auto path = JoinInside(mDownloadData.CarpetaDestino(), setupName);
        if (!path)
            return;
        try {
            auto held = std::make_shared<TVerifiedProgram>(
                TVerifiedProgram{TVerifiedFile(aFolder.OpenForReading(setupName), *path), setupName,
                                 aIni.ReadString("Checksum", key, " "),
                                 aSha256 ? aIni.ReadString(kChecksum256Section, key, "") : ""});
            const TFileDigestTexts digests = DescriptorDigestTexts(held->file.Fd(), setupName, aSha256);
            if (digests.sha1 == held->sha1 && (!aSha256 || Sha256TextMatches(held->sha256, digests.sha256)))
                mDownloadData.SetVerifiedSetup(std::move(held));
            else
                mDownloadData.SetLaunchProblem("it was replaced after it was verified");
        } catch (const std::exception& error) {
            // Nothing held: the install says why.
            mDownloadData.SetLaunchProblem(error.what());
        }
        return;
    }
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
    mDownloadData.SetVerifiedSetup(nullptr);
    mDownloadData.SetLaunchProblem("");
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
    mListedNames.clear();
    while (ini.ValueExists("Downloads", "File" + std::to_string(total + 1))) {
        ++total;
        // Names a private file must never take, whether the file is fetched
        // now or later.
        const std::string listed =
            LocalFileName(ini.ReadString("Downloads", "File" + std::to_string(total), " "));
        mListedNames.insert(listed);
        mListedNames.insert(FinalPathOf(listed));
    }
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
                std::optional<std::uint64_t> size;
                try {
                    size = ListedSize(ini, key, name);
                } catch (const std::exception& error) {
                    // Without its bound a lying server could fill the disk:
                    // the entry fails without a transfer, like a refused name.
                    mDownloadData.SetResult(false);
                    mHost.AttemptFailed(name, 1, error.what());
                    break;
                }
                DownloadWithAttempts(action, *destination, name, localName, resume,
                                     checkSha256 ? &sha256 : nullptr, size);
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
    if (destination && mDownloadData.Result() && !mDownloadData.Cancelado())
        HoldVerifiedSetup(ini, *destination, checkSha256);
}

// Gives one listed file its attempts; Result tells whether it ended verified
// and placed. Each attempt writes a file of its own under a private name (in
// resume mode the kept partial file), which takes the listed name only once
// its checksum matched: a failed attempt leaves an earlier file there as it
// was.
void ThreadDownloads::DownloadWithAttempts(TDownLoadURL& aAction, const TFolderHandle& aFolder,
                                           const std::string& aName, const std::string& aLocalName,
                                           bool aResume, const std::string* aSha256,
                                           std::optional<std::uint64_t> aSize)
{
    const std::string source = mDownloadData.CarpetaOrigen() + "/" + aLocalName;
    mDownloadData.SetTStart(0);
    mDownloadData.SetRedirect(false);
    mDownloadData.SetURLRedirected("");

    // In resume mode the transfer fills a kept file, which becomes the listed
    // file once it is complete and verified.
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
    aAction.SetByteLimit(aSize);
    aAction.SetExpectedSize(aSize);
    const auto listed = [this](const std::string& aCandidate) { return mListedNames.count(aCandidate) > 0; };

    int attempts = 0;
    do {
        ++attempts;
        std::string reason;
        try {
            const std::string redirected = mDownloadData.URLRedirected();
            aAction.SetURL(mDownloadData.Redirect() && !redirected.empty() ? redirected : source);
            // Made at each attempt, and gone at its end unless it was placed.
            std::optional<TPrivateDownload> fresh;
            TResumePoint point;
            std::string written;
            if (kept) {
                point = kept->Load();
                written = kept->PartialName();
                aAction.SetFilename(kept->PartialPath());
            } else {
                fresh.emplace(aFolder, aLocalName, listed);
                written = fresh->Name();
                aAction.SetFilename(fresh->Path());
            }
            // The file the transfer writes, so that only it can be judged
            // and placed.
            std::optional<TFileIdentity> opened;
            aAction.SetTargetOpener([&] {
                UniqueFd fd = kept ? kept->OpenForTransfer(point) : fresh->TakeForWriting();
                opened = IdentityOf(fd.Get());
                return fd;
            });
            aAction.SetResume(kept ? std::optional<TResumePoint>(point) : std::nullopt);
            {
                StallTimerScope stallTimer(mHost);
                aAction.ExecuteTarget();
            }
            TFileIdentity checked;
            bool good = CheckFileHash(aFolder, written, aAction, aSha256, reason, checked);
            if (good && (!opened || checked != *opened)) {
                good = false;
                reason = "cannot place " + aName + ": it was replaced after it was written";
            }
            // Bytes that do not match are not worth resuming.
            if (!good && kept)
                kept->Forget();
            mDownloadData.SetResult(good);
            // No cached copy to drop: transfers always go to the server.
            if (good) {
                if (kept)
                    kept->Place(checked);
                else
                    PlaceVerified(aFolder, written, aLocalName, checked, &*fresh);
            }
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
    aAction.SetByteLimit(std::nullopt);
    aAction.SetExpectedSize(std::nullopt);
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

namespace {

std::string TempFolderPath(const std::string& aFolderName)
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
    return temp + sub;
}

}  // namespace

std::string ThreadDownloads::GetTempFolder(const std::string& aFolderName)
{
    const std::string folder = TempFolderPath(aFolderName);
    EnsurePrivateFolder(folder);
    return folder;
}

TFolderHandle ThreadDownloads::OpenTempFolder(const std::string& aFolderName)
{
    const std::string folder = TempFolderPath(aFolderName);
    return TFolderHandle(EnsurePrivateFolder(folder), folder);
}

bool ThreadDownloads::IsURL(const std::string& aAddress, std::string& aConverted)
{
    return ::IsURL(aAddress, aConverted);
}

std::string ThreadDownloads::ExtractURLFileName(const std::string& aAddress)
{
    return ::ExtractURLFileName(aAddress);
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
