#include "console/silent_mode.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "console/console_texts.h"
#include "console/progress_line.h"
#include "engine/destination_folder.h"
#include "engine/progress_figures.h"
#include "platform/settings.h"
#include "platform/shell_open.h"
#include "platform/system_helpers.h"
#include "platform/text.h"

namespace {

namespace texts = console_texts;

// Only a backstop: the worker's reports, its end and a stop signal each wake
// the printing thread at once through the wake descriptor.
constexpr std::chrono::milliseconds kPollInterval{1000};
constexpr int kDefaultColumns = 80;

// An eventfd that every wake-up writes to; -1 outside a run. A signal handler
// reaches it through WakeSilentMode, so it is a plain atomic int.
std::atomic<int> gWakeFd{-1};

void WriteWake(int aFd) noexcept
{
    if (aFd < 0)
        return;
    const int savedErrno = errno;  // a signal handler must leave errno as it found it
    const std::uint64_t one = 1;
    // A full counter (never in practice) still leaves the descriptor readable.
    [[maybe_unused]] const ssize_t written = ::write(aFd, &one, sizeof one);
    errno = savedErrno;
}

// The run's wake descriptor, published for WakeSilentMode while it lives.
class WakeFd {
public:
    WakeFd() : mFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) { gWakeFd.store(mFd); }
    ~WakeFd()
    {
        gWakeFd.store(-1);
        if (mFd >= 0)
            ::close(mFd);
    }
    WakeFd(const WakeFd&) = delete;
    WakeFd& operator=(const WakeFd&) = delete;

    void Wake() const noexcept { WriteWake(mFd); }
    // Waits until woken or aTimeout has passed, and takes the wake-ups.
    void Wait(std::chrono::milliseconds aTimeout) const noexcept
    {
        if (mFd < 0) {
            std::this_thread::sleep_for(std::min(aTimeout, std::chrono::milliseconds(100)));
            return;
        }
        pollfd wait{mFd, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(aTimeout.count())) > 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(mFd, &count, sizeof count);
        }
    }

private:
    const int mFd;
};

// Receives the worker's reports on the worker thread and hands them to the
// printing thread; runs the stall timer on a thread of its own.
class SilentHost : public TWorkerHost {
public:
    SilentHost() : mTimerThread([this](std::stop_token aStop) { RunStallTimer(aStop); }) {}
    ~SilentHost() override { mTimerThread.request_stop(); }

    void SetWorker(ThreadDownloads* aWorker)
    {
        std::lock_guard lock(mMutex);
        mWorker = aWorker;
    }

    // Whether progress is drawn: if not, a progress report needs no wake-up.
    void SetProgressShown(bool aShown)
    {
        std::lock_guard lock(mMutex);
        mProgressShown = aShown;
    }

    void PostProgress() noexcept override
    {
        bool wake = false;
        {
            std::lock_guard lock(mMutex);
            wake = mProgressShown && NothingPending();
            mProgressPosted = true;
        }
        if (wake)
            mWake.Wake();
    }

    // Any thread: ends the printing thread's wait (the worker has ended).
    void Wake() const noexcept { mWake.Wake(); }

    void EnableStallTimer(bool aEnabled) noexcept override
    {
        std::lock_guard lock(mMutex);
        if (aEnabled && !mStallTimerEnabled)
            mStallTimerStart = std::chrono::steady_clock::now();
        mStallTimerEnabled = aEnabled;
    }

    void FileStarted(const std::string& aFileName, std::int32_t aNumber,
                     std::int32_t aTotal) noexcept override
    {
        Say(texts::Downloading(aFileName, aNumber, aTotal));
    }
    void AttemptFailed(const std::string& aFileName, int aAttempt,
                       const std::string& aReason) noexcept override
    {
        Say(texts::AttemptFailed(aFileName, aAttempt, aReason));
    }
    void FileVerified(const std::string& aFileName) noexcept override { Say(texts::Verified(aFileName)); }
    void VersionUnreadable(const std::string& aText) noexcept override
    {
        try {
            Say(texts::VersionUnreadable(aText));
        } catch (...) {
            // A lost line only costs the log a line.
        }
    }
    void OperationEndedEarly(TEarlyEnd aWhy, const std::string& aDetail) noexcept override
    {
        std::lock_guard lock(mMutex);
        if (mEarlyEnd)
            return;  // the first reason is the one that explains the end
        mEarlyEnd = aWhy;
        try {
            mEarlyEndDetail = aDetail;
        } catch (...) {
            // A lost detail only costs the text its end.
        }
    }

    // The first early end the worker reported, if any.
    std::optional<TEarlyEnd> EarlyEnd(std::string& aDetail) const
    {
        std::lock_guard lock(mMutex);
        aDetail = mEarlyEndDetail;
        return mEarlyEnd;
    }

    // Waits up to aTimeout for a progress message, a report, the worker's end
    // or a stop signal, unless aReady already holds; returns the reports that
    // arrived and whether progress was posted meanwhile.
    std::deque<std::string> Wait(std::chrono::milliseconds aTimeout, const std::function<bool()>& aReady,
                                 bool& aProgressPosted)
    {
        bool pending = false;
        {
            std::lock_guard lock(mMutex);
            pending = mProgressPosted || !mLines.empty();
        }
        if (!pending && !aReady())
            mWake.Wait(aTimeout);
        std::lock_guard lock(mMutex);
        aProgressPosted = mProgressPosted;
        mProgressPosted = false;
        std::deque<std::string> lines;
        lines.swap(mLines);
        return lines;
    }

private:
    void Say(std::string aLine) noexcept
    {
        bool wake = false;
        try {
            std::lock_guard lock(mMutex);
            wake = NothingPending();
            mLines.push_back(std::move(aLine));
        } catch (...) {
            return;  // a lost line only costs the log a line
        }
        if (wake)
            mWake.Wake();
    }

    // With the mutex held: nothing is waiting that the printing thread would
    // be woken for. Only the first report after it took the last ones wakes
    // it, as it takes all that came meanwhile; a release of small files
    // would otherwise cost a wake-up per report.
    bool NothingPending() const { return mLines.empty() && !(mProgressShown && mProgressPosted); }

    void RunStallTimer(std::stop_token aStop)
    {
        std::unique_lock lock(mMutex);
        while (!aStop.stop_requested()) {
            mTimerWake.wait_for(lock, aStop, ThreadDownloads::kStallTimerInterval, [] { return false; });
            if (aStop.stop_requested())
                break;
            const auto enabledFor = std::chrono::steady_clock::now() - mStallTimerStart;
            if (mStallTimerEnabled && mWorker != nullptr
                && enabledFor >= ThreadDownloads::kStallTimerInterval)
                mWorker->mTickCheckTimer();
        }
    }

    mutable std::mutex mMutex;
    WakeFd mWake;
    std::condition_variable_any mTimerWake;
    bool mProgressPosted = false;
    bool mProgressShown = false;
    bool mStallTimerEnabled = false;
    std::chrono::steady_clock::time_point mStallTimerStart;
    ThreadDownloads* mWorker = nullptr;
    std::deque<std::string> mLines;
    std::optional<TEarlyEnd> mEarlyEnd;
    std::string mEarlyEndDetail;
    std::jthread mTimerThread;  // last: stops before the fields it uses go
};

class SilentRun {
public:
    SilentRun(const TSilentOptions& aOptions, TWorkerEnvironment aEnvironment, std::ostream& aOut,
              bool aTerminal, const std::atomic<bool>& aCancelRequested)
        : mOptions(aOptions),
          mEnvironment(std::move(aEnvironment)),
          mOut(aOut),
          mTerminal(aTerminal),
          mCancelRequested(aCancelRequested)
    {
    }

    int Run();

private:
    void RunOperation(TWebOperation aOperation, bool aShowProgress);
    void Print(const std::string& aLine);
    void DrawProgressLine();
    int TerminalColumns() const;
    std::string NoInfoAddressText() const;
    // The line for a configuration or download that ended on a refused
    // signed info file; nullopt for any other end.
    std::optional<std::string> SignedInfoRefusalLine() const;
    bool PrepareDestination(const std::string& aFolder);

    const TSilentOptions& mOptions;
    TWorkerEnvironment mEnvironment;
    std::ostream& mOut;
    bool mTerminal;
    const std::atomic<bool>& mCancelRequested;
    TDownloadData mData;
    SilentHost mHost;
    bool mLineDrawn = false;
};

// Every line holds our own words around texts from a server or a file; none
// of them may drive the terminal, nor leave raw control bytes in a log.
void SilentRun::Print(const std::string& aLine)
{
    // One write for the whole line, whatever the stream's buffering.
    std::string text = mTerminal && mLineDrawn ? "\r\x1b[K" : "";
    mLineDrawn = false;
    text += PrintableText(aLine);
    text += '\n';
    mOut << text << std::flush;
}

int SilentRun::TerminalColumns() const
{
    if (mOptions.terminalColumns > 0)
        return mOptions.terminalColumns;
    // Asked at every redraw: the window may have been resized.
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return kDefaultColumns;
}

// Drawn only when the worker has posted new figures: the estimates extrapolate
// from the moment of drawing, so a redraw between posts would let them creep.
void SilentRun::DrawProgressLine()
{
    if (!mTerminal || !mData.MostrarProgreso() || mData.Terminado())
        return;
    const std::uint32_t now = mEnvironment.Now();
    TProgressLine line;
    line.number = mData.Number();
    line.total = mData.Total();
    line.fileName = mData.ArchivoDown();
    // Until the first update of a new file the figures are the last file's.
    if (mData.TStart() != 0) {
        const auto done = mData.ArchProgreso();
        const auto max = mData.ArchProgresoMax();
        line.filePercent = max > 0 ? static_cast<double>(done) * 100.0 / static_cast<double>(max) : 0;
        line.fileLeftMs = FileTimeLeftMs(mData, now);
    }
    const double size = mData.Size();
    line.totalPercent = size > 0 ? mData.Acumulado() * 100.0 / size : 0;
    if (mData.TAcumStart() != 0)
        line.totalLeftMs = OverallTimeLeftMs(mData, now);
    mOut << "\r\x1b[K" << FormatProgressLine(line, TerminalColumns()) << std::flush;
    mLineDrawn = true;
}

void SilentRun::RunOperation(TWebOperation aOperation, bool aShowProgress)
{
    mData.SetOperacion(aOperation);
    mData.SetTerminado(false);
    ThreadDownloads worker(true, mData, mHost, mEnvironment);
    mHost.SetWorker(&worker);
    mHost.SetProgressShown(aShowProgress && mTerminal);
    worker.SetOnTerminate([this] { mHost.Wake(); });
    worker.Start();
    bool cancelSent = false;
    const auto ready = [&] { return worker.Finished() || (mCancelRequested && !cancelSent); };
    // Bounded by the worker: every transfer ends by itself, by the stall
    // timer or by the cancel sent below.
    while (!worker.Finished()) {
        bool progressPosted = false;
        for (const auto& line : mHost.Wait(kPollInterval, ready, progressPosted))
            Print(line);
        if (mCancelRequested && !cancelSent) {
            worker.CancelDownload();
            cancelSent = true;
        }
        if (aShowProgress && progressPosted)
            DrawProgressLine();
    }
    worker.WaitFor();
    mHost.SetWorker(nullptr);
    bool progressPosted = false;
    for (const auto& line : mHost.Wait(std::chrono::milliseconds(0), ready, progressPosted))
        Print(line);
    if (mTerminal && mLineDrawn) {
        mOut << "\r\x1b[K" << std::flush;
        mLineDrawn = false;
    }
}

std::optional<std::string> SilentRun::SignedInfoRefusalLine() const
{
    std::string why;
    if (mData.Result())
        return std::nullopt;
    switch (mHost.EarlyEnd(why).value_or(TEarlyEnd::NoInfoAddress)) {
    case TEarlyEnd::InfoSignatureRefused: return texts::InfoSignatureRefused(why);
    case TEarlyEnd::SignedInfoRefused: return texts::SignedInfoRefused(why);
    default: return std::nullopt;
    }
}

std::string SilentRun::NoInfoAddressText() const
{
    std::string release;
    if (mHost.EarlyEnd(release) != TEarlyEnd::ServiceGaveNoAddress)
        return texts::kNoInfoAddress;
    return release.empty() ? texts::kServiceGaveNoAddress
                           : texts::ServiceGaveNoAddressFor(TrimControl(release));
}

bool SilentRun::PrepareDestination(const std::string& aFolder)
{
    switch (PrepareDestinationFolder(aFolder)) {
    case TFolderCheck::CannotCreate:
        Print(texts::FolderProblem(kCannotCreateFolderText, aFolder));
        return false;
    case TFolderCheck::NoRights: Print(texts::FolderProblem(kNoRightsInFolderText, aFolder)); return false;
    case TFolderCheck::Usable: break;
    }
    return true;
}

int SilentRun::Run()
{
    SettingsRootKey = HKEY_CURRENT_USER;
    mEnvironment.configurationPause = std::chrono::milliseconds(0);  // no page to be seen
    mEnvironment.rehashSetup = false;  // setup starts right after its check, with no click between
    mEnvironment.resume = mEnvironment.resume || mOptions.resume;
    mEnvironment.wizardArguments = mOptions.arguments;
    mEnvironment.wizardArguments.push_back("1");
    int wizardExit = -1;
    bool setupStarted = false;
    // A newer wizard runs in this terminal and its result is ours; setup runs
    // on its own. Tests bring a launcher of their own, which always starts.
    const TShellOpen injected = mEnvironment.shellOpen;
    mEnvironment.shellOpen = [this, injected, &wizardExit,
                              &setupStarted](const std::string& aPath, const std::vector<std::string>& aArgs,
                                             const std::vector<std::string>& aEnvironment, int aFd) {
        const bool isWizard = mData.Operacion() == TWebOperation::twoDownloader;
        if (injected) {
            injected(aPath, aArgs, aEnvironment, aFd);
            setupStarted = !isWizard;
            return;
        }
        // A stop asked of us while the newer wizard runs is meant for it.
        const TShellOpenOptions options{.wait = isWizard,
                                        .environment = aEnvironment,
                                        .stopRequested = isWizard ? &mCancelRequested : nullptr};
        const auto result =
            aFd >= 0 ? ShellOpenDescriptor(aFd, aPath, aArgs, options) : ShellOpen(aPath, aArgs, options);
        if (isWizard)
            wizardExit = result.started ? result.exitCode : -1;
        else
            setupStarted = result.started;
    };

    mData.SetVersionLocal(ThreadDownloads::VersionToInt(ThreadDownloads::kVersion));
    Print(texts::kConnecting);
    RunOperation(TWebOperation::twoConfiguration, false);
    if (mCancelRequested) {
        Print(texts::kCancelled);
        return static_cast<int>(TSilentExit::Cancelled);
    }
    if (const auto line = SignedInfoRefusalLine()) {
        Print(*line);
        return static_cast<int>(TSilentExit::NotConnected);
    }
    if (!mData.Result() || IsBlank(mData.ArchIniRemoto())) {
        std::string detail;
        if (IsBlank(mData.ArchIniRemoto()))
            Print(NoInfoAddressText());
        else if (mHost.EarlyEnd(detail) == TEarlyEnd::PrivateFolderRefused)
            Print(texts::PrivateFolderRefused(detail));
        else
            Print(texts::CannotFetchInfoFile(TrimControl(mData.ArchIniRemoto())));
        return static_cast<int>(TSilentExit::NotConnected);
    }
    if (mData.Restart()) {
        Print(texts::StartingNewerWizard(mData.Mensaje()));
        RunOperation(TWebOperation::twoDownloader, false);
        if (wizardExit < 0) {
            Print(texts::CannotStartNewerWizard(mData.ArchivoDownloader(), mData.LaunchProblem()));
            return static_cast<int>(TSilentExit::NotConnected);
        }
        return wizardExit;
    }
    if (!mData.UpdateRefused().empty())
        Print(mData.UpdateRefused());
    if (!IsBlank(mData.Line1()))
        Print(mData.Line1());
    if (!IsBlank(mData.InfoSize()))
        Print(mData.InfoSize());

    std::string destination =
        mOptions.destination.empty()
            ? GuessDestinationFolder()
            : std::filesystem::absolute(mOptions.destination).lexically_normal().string();
    if (destination.empty() || !PrepareDestination(destination))
        return static_cast<int>(TSilentExit::DestinationUnusable);
    Print(texts::Destination(destination));

    mData.SetCarpetaDestino(destination);
    RunOperation(TWebOperation::twoDownload, true);
    if (mData.Cancelado() || mCancelRequested) {
        Print(texts::kCancelled);
        return static_cast<int>(TSilentExit::Cancelled);
    }
    if (const auto line = SignedInfoRefusalLine()) {
        Print(*line);
        return static_cast<int>(TSilentExit::DownloadFailed);
    }
    if (!mData.Result()) {
        Print(texts::DownloadFailedAt(mData.ArchivoDown()));
        return static_cast<int>(TSilentExit::DownloadFailed);
    }
    Print(texts::AllVerifiedIn(destination));

    if (mOptions.install) {
        if (IsBlank(mData.ArchSetup())) {
            Print(texts::kNoSetupListed);
        } else {
            RunOperation(TWebOperation::twoInstall, false);
            if (!setupStarted) {
                // A refused name never reaches the launcher; the record then
                // still holds the name as the info file gave it.
                Print(texts::CannotStartSetup(mData.ArchSetup(), mData.LaunchProblem()));
                return static_cast<int>(TSilentExit::SetupNotStarted);
            }
            Print(texts::StartedSetup(mData.ArchSetup()));
        }
    }
    return static_cast<int>(TSilentExit::Done);
}

}  // namespace

void WakeSilentMode() noexcept
{
    WriteWake(gWakeFd.load());
}

int RunSilent(const TSilentOptions& aOptions, TWorkerEnvironment aEnvironment, std::ostream& aOut,
              bool aTerminal, const std::atomic<bool>& aCancelRequested)
{
    SilentRun run(aOptions, std::move(aEnvironment), aOut, aTerminal, aCancelRequested);
    return run.Run();
}
