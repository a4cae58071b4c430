#pragma once
// The worker: runs one operation of the record's Operacion on a thread of its
// own and writes everything it learns back into the record.
//
// Threads: the constructor, Start, CancelDownload, mTickCheckTimer and the
// destructor may be called from any one controlling thread (the window's, or
// the silent mode's main thread); Execute and DownloadProgress run on the
// worker thread. The record must outlive the worker: the destructor cancels
// nothing but joins the thread, so a caller that wants a quick end calls
// CancelDownload first.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "components/file_digests.h"
#include "components/sha1.h"
#include "downloader_version.h"
#include "engine/download_data.h"
#include "engine/ini_reader.h"
#include "platform/folder_handle.h"
#include "transfer/download_url.h"

class TKeptDownload;

// Why an operation ended before its work was done, for a front end that
// explains it; the record's Result is false in each case.
enum class TEarlyEnd {
    NoInfoAddress,         // nothing built in, no INIConfig and no release number
    ServiceGaveNoAddress,  // aDetail: the release number asked for, "" for the built-in service
    PrivateFolderRefused,  // aDetail: why the private temporary folder cannot be trusted
    InfoFileNotFetched,    // aDetail: the transfer's reason
    InfoFileTruncated,     // read in part only
    // A vendor key is built in and the info file's signature is missing or
    // invalid; aDetail: why. Also reported by a download whose local copy no
    // longer matches its signature.
    InfoSignatureRefused,
    // A vendor key is built in and the signature is valid, but the file is
    // not the one for this address or release number, or it is older than
    // one accepted before for this address; aDetail: why.
    SignedInfoRefused,
};

// What the controlling side provides. Members are called on the worker thread
// (EnableStallTimer(false) also from the thread that calls CancelDownload) and
// must not block.
class TWorkerHost {
public:
    virtual ~TWorkerHost() = default;
    // Tells the window to read the record again (the progress message).
    virtual void PostProgress() noexcept = 0;
    // While enabled, the host calls ThreadDownloads::mTickCheckTimer every
    // kStallTimerInterval on its own thread.
    virtual void EnableStallTimer(bool aEnabled) noexcept = 0;

    // Reports for a log or a terminal; the window needs none of them.
    virtual void FileStarted(const std::string& /*aFileName*/, std::int32_t /*aNumber*/,
                             std::int32_t /*aTotal*/) noexcept
    {
    }
    virtual void AttemptFailed(const std::string& /*aFileName*/, int /*aAttempt*/,
                               const std::string& /*aReason*/) noexcept
    {
    }
    virtual void FileVerified(const std::string& /*aFileName*/) noexcept {}
    // Why the configuration ended without an info file; see TEarlyEnd for
    // what aDetail holds.
    virtual void OperationEndedEarly(TEarlyEnd /*aWhy*/, const std::string& /*aDetail*/) noexcept {}
    // The info file's [General] Version (aText, as read) is not a whole
    // number that fits: no newer wizard is looked for, the release goes on.
    virtual void VersionUnreadable(const std::string& /*aText*/) noexcept {}
};

// Starts a program or document as the desktop's "open" verb does. aEnvironment
// holds extra NAME=VALUE entries for the started program. aFd, when not -1,
// is the verified file held open at aPath, checked again just before: a
// program is started from it, never by aPath (ShellOpenDescriptor).
using TShellOpen = std::function<void(const std::string& aPath, const std::vector<std::string>& aArgs,
                                      const std::vector<std::string>& aEnvironment, int aFd)>;

// Set in the environment of a wizard started by a self-update, so that it does
// not update itself again: a server that announces a newer version but still
// serves the old wizard would otherwise start an endless chain of wizards.
inline constexpr const char* kSelfUpdatedVariable = "DOWNLOADER_SELF_UPDATED";

// What the worker takes from the process; tests replace the clock, the pause
// and the launcher.
struct TWorkerEnvironment {
    std::string firstArgument;                 // first positional command-line argument
    std::function<std::string()> embeddedURL;  // empty: the address built into the program
    std::function<std::uint32_t()> tickCount;  // empty: the monotonic millisecond clock
    std::chrono::milliseconds configurationPause{1000};
    TShellOpen shellOpen;                           // empty: platform ShellOpen, not waited for
    std::vector<std::string> wizardArguments{"1"};  // given to a newer wizard
    bool selfUpdateAllowed = true;                  // false in a wizard started by a self-update
    bool resume = false;  // resume and skip for every release, not only for those that ask
    // The vendor's minisign key line (DOWNLOADER_PUBLIC_KEY). Empty: releases
    // are not signed, and no signature is fetched or checked.
    std::string publicKey;
    // Hash the setup program once more, through its held descriptor, just
    // before it starts: a window waits for a click meanwhile, while the
    // silent mode starts it right after its check.
    bool rehashSetup = true;

    // The environment of this process: the first positional argument is the
    // release number, kSelfUpdatedVariable forbids another self-update, and
    // a newer wizard gets aArguments (the command line without the program's
    // name) followed by "1", so that it serves the same release; the key is
    // the one built in.
    static TWorkerEnvironment FromProcess(const std::string& aFirstArgument,
                                          const std::vector<std::string>& aArguments = {});

    // The tick count by tickCount, else by the monotonic clock.
    std::uint32_t Now() const;
};

class ThreadDownloads {
public:
    static constexpr const char* kVersion = kDownloaderVersion;
    static constexpr const char* kTempSubFolder = "Downloader";
    static constexpr std::chrono::milliseconds kStallTimerInterval{10000};
    static constexpr std::uint32_t kWorkerStallLimitMs = 60000;
    // Bounds of the transfers that are read whole: the info file one byte
    // past what its reader reads (so that a file just too long is still
    // reported as such), its signature well above minisign's few hundred
    // bytes.
    static constexpr std::uint64_t kInfoFileByteLimit = TIniReader::kMaxFileBytes + 1;
    static constexpr std::uint64_t kSignatureByteLimit = 16 * 1024;

    ThreadDownloads(bool aCreateSuspended, TDownloadData& aDownloadData, TWorkerHost& aHost,
                    TWorkerEnvironment aEnvironment = {});
    ~ThreadDownloads();  // joins the worker thread
    ThreadDownloads(const ThreadDownloads&) = delete;
    ThreadDownloads& operator=(const ThreadDownloads&) = delete;

    void Start();
    // Runs on the worker thread after the operation has ended and Terminado
    // is set; the window turns it into its termination event.
    void SetOnTerminate(std::function<void()> aHandler);
    bool Finished() const { return mFinished.load(); }
    void WaitFor();

    // Any thread. Sets Cancelado and aborts the running transfer. Always true.
    bool CancelDownload();
    // The stall timer's tick: aborts a transfer that has recorded no progress
    // for more than kWorkerStallLimitMs.
    void mTickCheckTimer();

    // The worker's own names for the text helpers of engine/info_address.h.
    static std::int32_t VersionToInt(const std::string& aVersion);
    static bool IsURL(const std::string& aAddress, std::string& aConverted);
    static std::string ExtractURLFileName(const std::string& aAddress);

    // Helpers shared by the operations; public so that tests reach them.
    static std::string GetTempFolder(const std::string& aFolderName);
    // The same folder, checked in the same way, held open; its Path() is what
    // GetTempFolder gives.
    static TFolderHandle OpenTempFolder(const std::string& aFolderName);
    static bool RenameDownloaded(const std::string& aFileName);

    // The transfer's progress event (worker thread).
    void DownloadProgress(TDownLoadURL& aSender, std::uint64_t aProgress, std::uint64_t aProgressMax,
                          TURLDownloadStatus aStatusCode, const std::string& aStatusText, bool& aCancel);

private:
    void Execute();
    void RunConfiguration();
    void RunDownloaderLaunch();
    void RunDownload();
    // aName as listed; aLocalName the same with "/" separators, relative to
    // aFolder; aSha256 the signed
    // [Checksum256] entry the file must match too, if any; aSize its [Size]
    // entry, if any, at which the transfer stops.
    void DownloadWithAttempts(TDownLoadURL& aAction, const TFolderHandle& aFolder, const std::string& aName,
                              const std::string& aLocalName, bool aResume, const std::string* aSha256,
                              std::optional<std::uint64_t> aSize);
    // Resume and skip (engine/resume_attempts.cpp). True when the file is
    // already there, verified (against aSha256 too when given): it then
    // counts as done.
    bool SkipVerifiedFile(const std::string& aName, const TFolderHandle& aFolder,
                          const std::string& aLocalName, const TKeptDownload& aKept,
                          const std::string* aSha256);
    // A reply begins to fill the kept file of the current entry.
    void KeptReplyBegins(const TDownLoadURL& aSender) noexcept;
    void RunInstall();
    // The info file's address; aWhyEmpty tells what to report when it is blank.
    std::string GetInfoFileURL(TEarlyEnd& aWhyEmpty, std::string& aDetail);
    // True when the SHA-1 text of aName in aFolder equals ArchivoHash and,
    // when aSha256 is given, its SHA-256 equals that text too; otherwise
    // aReason tells why. aChecked receives the identity of the file that was
    // judged. aAction's written digests are taken when they belong to that
    // very file at its size and hold the SHA-256 if one is asked for; else
    // the file is read here, once for both.
    bool CheckFileHash(const TFolderHandle& aFolder, const std::string& aName, TDownLoadURL& aAction,
                       const std::string* aSha256, std::string& aReason, TFileIdentity& aChecked);
    // The info file's reader; with a key, only after its signature has been
    // checked against the copy in the private folder (empty when refused,
    // reported as TEarlyEnd::InfoSignatureRefused), and after the file has
    // shown that it belongs at the record's ArchIniRemoto (and to
    // mReleaseAsked) and is not older than one accepted there before (empty
    // when not, reported as TEarlyEnd::SignedInfoRefused).
    std::optional<TIniReader> ReadInfoFile();
    // Fetches the info file's signature beside its local copy. False, reported
    // as TEarlyEnd::InfoSignatureRefused, when it cannot be fetched.
    bool FetchInfoSignature(TDownLoadURL& aAction, const std::string& aInfoAddress);
    // With a key: true when the fetched wizard, hashed through the descriptor
    // it is later started from, matches the signed DownloaderSHA256;
    // otherwise UpdateRefused says why.
    bool WizardMatchesSignedDigest(const TIniReader& aIni, TVerifiedProgram& aWizard);
    // After a complete download: the setup program, hashed once more through
    // a descriptor opened without following links, held in the record for
    // the install: none when the setup is not a listed file, and LaunchProblem
    // says why when it is but can no longer be read or no longer matches.
    void HoldVerifiedSetup(const TIniReader& aIni, const TFolderHandle& aFolder, bool aSha256);
    // "" when aProgram may start now: aFolder's entry at its name is still
    // the held file, which is ours, of its size and mode (the execute bit
    // added through the descriptor), and, with aRehash, still has its
    // digests. Else why not.
    static std::string LaunchProblem(TVerifiedProgram& aProgram, const TFolderHandle& aFolder, bool aRehash);
    void OpenWithShell(const std::string& aPath, const std::vector<std::string>& aArgs, int aFd);
    void AbortRunningTransfer();
    void PauseAfterConfiguration();

    TDownloadData& mDownloadData;
    TWorkerHost& mHost;
    TWorkerEnvironment mEnvironment;
    std::atomic<std::uint32_t> mTickCount{0};
    std::atomic<bool> mTerminated{false};
    std::atomic<bool> mFinished{false};
    std::mutex mPauseMutex;
    std::condition_variable mPauseWake;
    std::function<void()> mOnTerminate;

    // The download action of the running transfer; guarded so that
    // CancelDownload and the stall timer never reach a released action.
    std::mutex mDownloaderMutex;
    TDownLoadURL* mDownloader = nullptr;

    // Worker thread only: the current entry's kept state in resume mode, and
    // whether one of its replies has begun in this run.
    const TKeptDownload* mKept = nullptr;
    bool mKeptBegun = false;
    // Worker thread only: the release number the configuration asked the
    // info service for, "" when the address was found another way.
    std::string mReleaseAsked;
    // Worker thread only: every name the running download lists, before and
    // after a ".rename" move.
    std::set<std::string> mListedNames;

    std::thread mThread;
};
