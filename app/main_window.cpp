// Start-up, teardown and the window's own events.

#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <exception>

#include "app/artwork.h"
#include "app/hyperlink_label.h"
#include "app/string_table.h"
#include "app/taskbar_progress.h"
#include "engine/destination_folder.h"
#include "platform/settings.h"
#include "platform/system_helpers.h"

namespace {

// Tells the window which worker ended, so that a late event of a worker
// already gone is not taken for the current one's.
class TWorkerEndedEvent : public QEvent {
public:
    explicit TWorkerEndedEvent(std::uint64_t aSerial) : QEvent(kWorkerEndedEvent), mSerial(aSerial) {}
    std::uint64_t mSerial;
};

}  // namespace

void ShowMessageBox(QWidget* aParent, TMessageKind aKind, const QString& aCaption, const QString& aText)
{
    if (aKind == TMessageKind::Error)
        QMessageBox::critical(aParent, aCaption, aText);
    else
        QMessageBox::warning(aParent, aCaption, aText, QMessageBox::Ok);
}

TfrmMain::TfrmMain(TWorkerEnvironment aEnvironment, QWidget* aParent)
    : QWidget(aParent), mEnvironment(std::move(aEnvironment))
{
    BuildLayout();
    WireHandlers();
    bdlgDirs.SetCaption(QLatin1String(strings::kBrowseCaption));
    bdlgDirs.SetOptions({NBrowseOption::boEditBox, NBrowseOption::boNewDialogStyle});
    mStallTimer = new QTimer(this);
    mStallTimer->setInterval(static_cast<int>(ThreadDownloads::kStallTimerInterval.count()));
    connect(mStallTimer, &QTimer::timeout, this, [this] {
        if (gThrDownloads)
            gThrDownloads->mTickCheckTimer();
    });
    FormCreate(this);
}

TfrmMain::~TfrmMain()
{
    // The worker reads and writes the record: it ends before the record goes.
    StopWorker();
    gDownloadData.reset();
    mTmr.reset();
}

template <typename THandler> void TfrmMain::Guarded(THandler&& aHandler)
{
    try {
        aHandler();
    } catch (const std::exception& error) {
        mMessageSink(this, TMessageKind::Error, QLatin1String(strings::kDownloader),
                     QString::fromUtf8(error.what()));
    } catch (...) {
        mMessageSink(this, TMessageKind::Error, QLatin1String(strings::kDownloader),
                     QLatin1String(strings::kUnexpectedError));
    }
}

void TfrmMain::WireHandlers()
{
    const auto wire = [this](QPushButton* aButton, void (TfrmMain::*aHandler)()) {
        connect(aButton, &QPushButton::clicked, this,
                [this, aHandler] { Guarded([&] { (this->*aHandler)(); }); });
    };
    wire(btDownload, &TfrmMain::btDownloadClick);
    wire(btBrowse, &TfrmMain::btBrowseClick);
    wire(btCancel, &TfrmMain::btCancelClick);
    for (QPushButton* exit : {btCancelExit3, btCancelExit2, btExit, btCancelExit, btExit2})
        wire(exit, &TfrmMain::btExitClick);
    wire(btInstall, &TfrmMain::btInstallClick);
    wire(btRetry, &TfrmMain::btRetryClick);
    wire(btRetryDown, &TfrmMain::btRetryDownClick);
    connect(txtFolder, &QLineEdit::textChanged, this, [this] { Guarded([this] { txtFolderChange(); }); });
    connect(lblInfoLink, &THyperlinkLabel::clicked, this,
            [this] { Guarded([this] { lblInfoLinkClick(); }); });
}

void TfrmMain::FormCreate(QObject*)
{
    if (IsWindows7OrLater())
        TaskbarProgress = new TTaskbarProgress(this);
}

bool TfrmMain::Inicializa()
{
    SettingsRootKey.store(HKEY_CURRENT_USER);

    mTmr = std::make_unique<QTimer>();
    mTmr->setInterval(kRefreshIntervalMs);
    connect(mTmr.get(), &QTimer::timeout, this, [this] { Guarded([this] { mTmrTimer(); }); });
    mTmr->start();

    for (QLabel* label : {edNumber, edTotal, edNumberLeft, edTotalLeft})
        label->clear();

    AniConectando->Play();
    AniDownloading->Play();

    setWindowTitle(QLatin1String(strings::kCaptionPrefix) + QLatin1String(kVersion));
    txtFolder->setPlaceholderText(QLatin1String(strings::kFolderHint));
    txtFolder->setText(QString::fromStdString(GuessDestinationFolder()));

    gDownloadData = std::make_unique<TDownloadData>();
    return true;
}

bool TfrmMain::Conectar()
{
    SetPage(tbConectando);
    Guarded([this] { PCChange(nullptr); });
    return true;
}

void TfrmMain::PostProgress() noexcept
{
    QCoreApplication::postEvent(this, new QEvent(kProgressEvent));  // Qt deletes it
}

void TfrmMain::EnableStallTimer(bool aEnabled) noexcept
{
    try {
        // The timer belongs to the GUI thread: start and stop it there.
        QMetaObject::invokeMethod(
            this,
            [this, aEnabled] {
                if (aEnabled && gThrDownloads)
                    mStallTimer->start();
                else
                    mStallTimer->stop();
            },
            Qt::QueuedConnection);
    } catch (...) {
        // Without memory for the call the timer stays as it is; the window's
        // own stall check still catches a dead transfer.
    }
}

void TfrmMain::customEvent(QEvent* aEvent)
{
    if (aEvent->type() == kProgressEvent) {
        Guarded([this] { WMDownloadProgress(); });
    } else if (aEvent->type() == kWorkerEndedEvent) {
        const auto* ended = static_cast<TWorkerEndedEvent*>(aEvent);
        if (gThrDownloads && mFreeRunning && ended->mSerial == mWorkerSerial)
            Guarded([this] { DoTerminate(); });
    } else {
        QWidget::customEvent(aEvent);
    }
}

void TfrmMain::closeEvent(QCloseEvent* aEvent)
{
    mQuitRequested = true;
    aEvent->accept();
    // A wait in progress runs to its end; RunOperationAndWait ends the
    // program afterwards.
    if (mWaitDepth > 0)
        return;
    StopWorker();
    QCoreApplication::quit();
}

void TfrmMain::keyPressEvent(QKeyEvent* aEvent)
{
    const auto pressable = [this](QPushButton* aButton) {
        return aButton && aButton->isEnabled() && aButton->isVisibleTo(PC->currentWidget())
               && PC->currentWidget()->isAncestorOf(aButton);
    };
    const int page = ActivePage();
    const bool plain = (aEvent->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && aEvent->key() == Qt::Key_Escape) {
        if (pressable(mCancelButtons[page]))
            mCancelButtons[page]->click();
        aEvent->accept();
        return;
    }
    if (plain && (aEvent->key() == Qt::Key_Return || aEvent->key() == Qt::Key_Enter)) {
        // A button with the focus takes Enter; otherwise the page's default button.
        auto* target = qobject_cast<QPushButton*>(focusWidget());
        if (!pressable(target))
            target = mDefaultButtons[page];
        if (pressable(target))
            target->click();
        aEvent->accept();
        return;
    }
    QWidget::keyPressEvent(aEvent);
}

void TfrmMain::StartDownloadWorker()
{
    gThrDownloads = std::make_unique<ThreadDownloads>(true, *gDownloadData, *this, mEnvironment);
    const std::uint64_t serial = ++mWorkerSerial;
    mFreeRunning = true;
    gThrDownloads->SetOnTerminate(
        [this, serial] { QCoreApplication::postEvent(this, new TWorkerEndedEvent(serial)); });
    gThrDownloads->Start();
}

void TfrmMain::ForgetWorker()
{
    mStallTimer->stop();
    mFreeRunning = false;
    gThrDownloads.reset();  // joins a thread that has already ended its operation
}

void TfrmMain::StopWorker()
{
    if (!gThrDownloads)
        return;
    gThrDownloads->CancelDownload();
    ForgetWorker();
}

void TfrmMain::SetPage(int aPage)
{
    PC->setCurrentIndex(aPage);
}

void TfrmMain::EnterPage(int aPage)
{
    SetPage(aPage);
    PCChange(nullptr);
}

int TfrmMain::ActivePage() const
{
    return PC->currentIndex();
}

void TfrmMain::ShowWarning(const QString& aText)
{
    mMessageSink(this, TMessageKind::Warning, QLatin1String(strings::kWarning), aText);
}
