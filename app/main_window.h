#pragma once
// TfrmMain: the wizard window. Six pages on a page control without tabs;
// the handlers move between them, start the worker and show its progress.
//
// GUI thread only, except PostProgress and EnableStallTimer, which the worker
// calls from its own thread. The window owns the download record and the
// worker; it stops and joins a running worker before the record goes.

#include <QEvent>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "app/message_sink.h"
#include "app/progress_display.h"
#include "components/browse_dlg.h"
#include "downloader_version.h"
#include "engine/download_data.h"
#include "engine/thread_downloads.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTimer;
class TArtwork;
class THyperlinkLabel;
class TTaskbarProgress;

// The progress message: posted by the worker, carries no data.
inline constexpr auto kProgressEvent = static_cast<QEvent::Type>(1025);
// The end of the free-running download worker, delivered on the GUI thread.
inline constexpr auto kWorkerEndedEvent = static_cast<QEvent::Type>(1026);

class TfrmMain : public QWidget, public TWorkerHost {
    Q_OBJECT
public:
    enum TPage : int {
        tbConectando = 0,
        tbNoConectado = 1,
        tbDestino = 2,
        tbDownload = 3,
        tbInterrupted = 4,
        tbInstalar = 5,
    };
    static constexpr const char* kVersion = kDownloaderVersion;
    static constexpr int kClientWidth = 458;
    static constexpr int kClientHeight = 170;
    static constexpr int kRefreshIntervalMs = 60000;
    static constexpr int kWaitTurnMs = 100;

    // Builds the layout and runs FormCreate. The environment goes to every worker.
    explicit TfrmMain(TWorkerEnvironment aEnvironment = {}, QWidget* aParent = nullptr);
    ~TfrmMain() override;

    // Start-up: timers, clips, caption, destination guess, a new record.
    // Throws when the settings store or the home folder cannot be read.
    bool Inicializa();
    // Shows the connecting page and runs the configuration, waiting for it.
    bool Conectar();
    // Recomputes the download page from the record; also the stall check.
    void UpdateProgress(QObject* aSender = nullptr);

    // TWorkerHost, called on the worker thread.
    void PostProgress() noexcept override;
    void EnableStallTimer(bool aEnabled) noexcept override;

    // True once the window was closed: the program ends when the handler in
    // progress has finished.
    bool QuitRequested() const { return mQuitRequested; }
    bool WorkerRunning() const { return gThrDownloads != nullptr; }
    TDownloadData* DownloadData() const { return gDownloadData.get(); }
    TTaskbarProgress* Taskbar() const { return TaskbarProgress; }
    TBrowseDlg& BrowseDialog() { return bdlgDirs; }
    void SetMessageSink(TMessageSink aSink) { mMessageSink = std::move(aSink); }

protected:
    void customEvent(QEvent* aEvent) override;
    void closeEvent(QCloseEvent* aEvent) override;
    void keyPressEvent(QKeyEvent* aEvent) override;

private:
    void BuildLayout();
    void WireHandlers();
    void FormCreate(QObject* aSender);

    void PCChange(QObject* aSender);
    void EnterConnecting();
    void EnterDownload();
    void EnterInstall();
    void btDownloadClick();
    void btBrowseClick();
    void btCancelClick();
    void btExitClick();
    void btInstallClick();
    void btRetryClick();
    void btRetryDownClick();
    void txtFolderChange();
    void lblInfoLinkClick();
    void DoTerminate();
    void RunOperationAndWait(TWebOperation aOperation);
    void StartDownloadWorker();
    void ForgetWorker();
    void StopWorker();

    void WMDownloadProgress();
    void mTmrTimer();

    void SetPage(int aPage);
    // SetPage, then PCChange: a change made by the program raises no event.
    void EnterPage(int aPage);
    int ActivePage() const;
    void ShowWarning(const QString& aText);
    // Runs a handler; an error that escapes it is shown and the window carries on.
    template <typename THandler> void Guarded(THandler&& aHandler);

    TWorkerEnvironment mEnvironment;
    TMessageSink mMessageSink = ShowMessageBox;

    std::unique_ptr<TDownloadData> gDownloadData;
    std::unique_ptr<ThreadDownloads> gThrDownloads;
    std::uint64_t mWorkerSerial = 0;  // tells a late end event from the current worker's
    bool mFreeRunning = false;        // gThrDownloads is the download, not a waited operation
    TStallWatch mStallWatch;          // mProgreso and mLastProgreso
    std::unique_ptr<QTimer> mTmr;
    QTimer* mStallTimer = nullptr;  // the worker's stall timer, ticking on this thread
    TTaskbarProgress* TaskbarProgress = nullptr;
    TBrowseDlg bdlgDirs;
    int mWaitDepth = 0;
    bool mQuitRequested = false;

    // Layout controls the handlers touch; the rest live only as children.
    QStackedWidget* PC = nullptr;
    TArtwork* AniConectando = nullptr;
    TArtwork* AniDownloading = nullptr;
    QLabel* lblAutoUpdate = nullptr;
    QPushButton* btCancelExit3 = nullptr;
    QPushButton* btRetry = nullptr;
    QPushButton* btCancelExit2 = nullptr;
    QLabel* lblLineInfo1 = nullptr;
    THyperlinkLabel* lblInfoLink = nullptr;
    QLabel* lblLink = nullptr;
    QLabel* lblInfoSize = nullptr;
    QLineEdit* txtFolder = nullptr;
    QPushButton* btBrowse = nullptr;
    QPushButton* btDownload = nullptr;
    QPushButton* btExit = nullptr;
    QLabel* lblFile = nullptr;
    QLabel* edNumber = nullptr;
    QProgressBar* pbFile = nullptr;
    QLabel* edNumberLeft = nullptr;
    QLabel* edTotal = nullptr;
    QProgressBar* pbAll = nullptr;
    QLabel* edTotalLeft = nullptr;
    QPushButton* btCancel = nullptr;
    QLabel* lblConnectionProblem = nullptr;
    QPushButton* btRetryDown = nullptr;
    QPushButton* btCancelExit = nullptr;
    QLabel* lblEnd1 = nullptr;
    QLabel* lblEnd2 = nullptr;
    QPushButton* btInstall = nullptr;
    QPushButton* btExit2 = nullptr;
    // The page's Enter and Esc buttons, by page index.
    QPushButton* mDefaultButtons[6] = {};
    QPushButton* mCancelButtons[6] = {};
};
