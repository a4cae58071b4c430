// The wizard's page flow: what each page does when entered, every button,
// and the start and end of the worker's operations.

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QThread>
#include <QTimer>
#include <stdexcept>

#include "app/hyperlink_label.h"
#include "app/main_window.h"
#include "app/string_table.h"
#include "app/taskbar_progress.h"
#include "engine/destination_folder.h"
#include "platform/settings.h"
#include "platform/shell_open.h"
#include "platform/text.h"

void TfrmMain::PCChange(QObject*)
{
    QCoreApplication::setApplicationName(QLatin1String(strings::kDownloader));
    switch (ActivePage()) {
    case tbConectando: EnterConnecting(); break;
    case tbDownload: EnterDownload(); break;
    case tbInterrupted:
        if (TaskbarProgress)
            TaskbarProgress->SetProgressState(TTaskBarProgressState::Error);
        break;
    case tbInstalar: EnterInstall(); break;
    default: break;
    }
}

void TfrmMain::EnterConnecting()
{
    TDownloadData& data = *gDownloadData;
    data.SetVersionLocal(ThreadDownloads::VersionToInt(kVersion));
    RunOperationAndWait(TWebOperation::twoConfiguration);
    if (!data.Result() || IsBlank(data.ArchIniRemoto())) {
        SetPage(tbNoConectado);
        btRetry->setFocus();
        return;
    }
    if (data.Restart()) {
        lblAutoUpdate->setText(QString::fromStdString(data.Mensaje()));
        lblAutoUpdate->repaint();
        RunOperationAndWait(TWebOperation::twoDownloader);
        close();
        return;
    }
    // A signed release whose newer wizard did not match: the user learns why
    // this wizard carries on instead.
    if (const std::string refused = data.UpdateRefused(); !refused.empty())
        ShowWarning(QString::fromStdString(refused));
    const QString line1 = QString::fromStdString(data.Line1());
    lblLineInfo1->setText(line1);
    if (TaskbarProgress)
        TaskbarProgress->SetToolTip(line1);
    lblLink->setText(QString::fromStdString(data.Link()));
    const std::string infoLink = data.InfoLink();
    if (!IsBlank(infoLink)) {
        lblInfoLink->setText(QString::fromStdString(infoLink));
        lblInfoLink->show();
    } else {
        lblInfoLink->clear();
        lblInfoLink->hide();
    }
    lblInfoSize->setText(QString::fromStdString(data.InfoSize()));
    lblEnd1->setText(QString::fromStdString(data.End1()));
    lblEnd2->setText(QString::fromStdString(data.End2()));
    SetPage(tbDestino);
    if (btDownload->isEnabled())
        btDownload->setFocus();
}

void TfrmMain::EnterDownload()
{
    // Never two workers on one record: Retry stays disabled while a cancelled
    // worker is still ending, and this is the last guard.
    if (gThrDownloads)
        return;
    const std::string folder = txtFolder->text().toStdString();
    if (!CreateDestinationFolder(folder)) {
        // The folder went away since Start: say so and offer Retry instead of
        // leaving a page that nothing can move on from.
        lblConnectionProblem->hide();
        ShowWarning(QLatin1String(kCannotCreateFolderText));
        EnterPage(tbInterrupted);
        return;
    }
    pbFile->setValue(0);
    pbAll->setValue(0);
    if (TaskbarProgress) {
        TaskbarProgress->SetProgressValue(0);
        TaskbarProgress->SetProgressState(TTaskBarProgressState::Normal);
    }
    mStallWatch.Restart();
    TDownloadData& data = *gDownloadData;
    data.SetOperacion(TWebOperation::twoDownload);
    data.SetCarpetaDestino(folder);
    data.SetTerminado(false);
    StartDownloadWorker();
    lblConnectionProblem->setVisible(true);
}

void TfrmMain::EnterInstall()
{
    const bool install = !IsBlank(gDownloadData->ArchSetup());
    btInstall->setVisible(install);
    if (install && btInstall->isEnabled())
        btInstall->setFocus();
    else if (btExit2->isEnabled())
        btExit2->setFocus();
    if (TaskbarProgress)
        TaskbarProgress->SetProgressState(TTaskBarProgressState::None);
    setWindowTitle(QLatin1String(strings::kDownloader));
}

void TfrmMain::btDownloadClick()
{
    const std::string folder = txtFolder->text().toStdString();
    switch (PrepareDestinationFolder(folder)) {
    case TFolderCheck::CannotCreate: ShowWarning(QLatin1String(kCannotCreateFolderText)); return;
    case TFolderCheck::NoRights: ShowWarning(QLatin1String(kNoRightsInFolderText)); return;
    case TFolderCheck::Usable: break;
    }
    EnterPage(tbDownload);
}

void TfrmMain::btBrowseClick()
{
    bdlgDirs.SetInitialDir(txtFolder->text());
    if (!bdlgDirs.Execute(this))
        return;
    txtFolder->setText(bdlgDirs.Path());
    RegWriteString(SettingsRootKey.load(), kProgramSettingsKey, kDestinationValueName,
                   txtFolder->text().toStdString());
}

void TfrmMain::txtFolderChange()
{
    btDownload->setEnabled(!txtFolder->text().isEmpty());
}

void TfrmMain::lblInfoLinkClick()
{
    const std::string link = lblLink->text().toStdString();
    if (IsBlank(link))
        return;
    // The address comes from the server: it is shown by the desktop's
    // opener, never run as a program.
    if (mEnvironment.shellOpen)
        mEnvironment.shellOpen(link, {}, {}, -1);
    else
        ShellOpen(link, {}, TShellOpenOptions{.runPrograms = false});
}

void TfrmMain::btCancelClick()
{
    // Only the free-running download is cancelled here; a waited operation
    // runs to its end.
    if (!gThrDownloads || !mFreeRunning)
        return;
    gThrDownloads->CancelDownload();
    btCancel->setEnabled(false);
    btCancel->setText(QLatin1String(strings::kCanceling));
    btRetryDown->setEnabled(false);  // until the cancelled worker has ended
    SetPage(tbInterrupted);
    lblConnectionProblem->hide();
    PCChange(nullptr);
    txtFolder->setEnabled(true);
    btBrowse->setEnabled(true);
}

void TfrmMain::btExitClick()
{
    close();
}

void TfrmMain::btInstallClick()
{
    if (IsBlank(gDownloadData->ArchSetup()) || gThrDownloads)
        return;
    // A second press during the wait must not start a second worker.
    btInstall->setEnabled(false);
    struct Reenable {
        QPushButton* button;
        ~Reenable() { button->setEnabled(true); }
    } reenable{btInstall};
    RunOperationAndWait(TWebOperation::twoInstall);
    close();
}

void TfrmMain::btRetryClick()
{
    EnterPage(tbConectando);
}

void TfrmMain::btRetryDownClick()
{
    if (gThrDownloads)
        return;
    EnterPage(tbDownload);
}

void TfrmMain::DoTerminate()
{
    TDownloadData& data = *gDownloadData;
    // The worker has ended its operation: release it first, so that whatever
    // the page change below does, the window is ready for the next one.
    ForgetWorker();
    btCancel->setEnabled(true);
    btCancel->setText(QLatin1String(strings::kCancel));
    btRetryDown->setEnabled(true);
    if (!data.Result()) {
        EnterPage(tbInterrupted);
        txtFolder->setEnabled(true);
        btBrowse->setEnabled(true);
        if (btRetryDown->isVisible())
            btRetryDown->setFocus();
    } else if (!data.Cancelado()) {
        EnterPage(tbInstalar);
    }
}

void TfrmMain::RunOperationAndWait(TWebOperation aOperation)
{
    if (gThrDownloads)
        throw std::logic_error("cannot start an operation while another one is running");
    TDownloadData& data = *gDownloadData;
    data.SetOperacion(aOperation);
    data.SetTerminado(false);
    gThrDownloads = std::make_unique<ThreadDownloads>(true, data, *this, mEnvironment);
    ++mWorkerSerial;
    mFreeRunning = false;
    gThrDownloads->Start();

    ++mWaitDepth;
    struct LeaveWait {
        TfrmMain& window;
        ~LeaveWait()
        {
            window.ForgetWorker();
            // A close during the wait ends the program once the handler that
            // waited has finished.
            if (--window.mWaitDepth == 0 && window.mQuitRequested)
                QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
    } leave{*this};
    while (!data.Terminado()) {
        // Events keep flowing (repaints, clips, the close box) while we wait.
        QElapsedTimer clock;
        clock.start();
        QEventLoop turn;
        QTimer::singleShot(kWaitTurnMs, &turn, &QEventLoop::quit);
        turn.exec();
        // Once the application is quitting, a local loop returns at once:
        // wait out the turn instead of spinning.
        if (const qint64 left = kWaitTurnMs - clock.elapsed(); left > 0)
            QThread::msleep(static_cast<unsigned long>(left));
    }
}
