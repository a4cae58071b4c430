// Whole flows of the wizard window against a loopback server: real clicks and
// keys, a fake tick clock, private HOME and settings per test.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <unistd.h>

#include "app/main_window.h"
#include "components/sha1.h"
#include "platform/settings.h"
#include "tests/app/qt_printers.h"
#include "tests/support/loopback_server.h"
#include "tests/support/sandbox.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kKey = "\\SOFTWARE\\Corvane\\Downloader";
constexpr int kWaitMs = 10000;

// Processes events until aCondition holds; false after aTimeoutMs.
template <typename TCondition> bool WaitUntil(TCondition aCondition, int aTimeoutMs = kWaitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!aCondition()) {
        if (clock.elapsed() > aTimeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

std::string Sha1Text(const std::string& aBytes)
{
    TSHA1Hasher hasher;
    hasher.HashBuffer(aBytes.data(), aBytes.size());
    TSHA1Digest digest;
    hasher.GetDigest(digest);
    return DigestToHex(digest);
}

// Drips its first bytes, so that the worker records several updates, then
// falls silent with the connection open until the client goes.
constexpr std::size_t kSlowStallAt = 8192;
Reply SlowReply()
{
    return {.body = std::string(65536, 's'),
            .stallAfter = kSlowStallAt,
            .dripDelay = std::chrono::milliseconds(20),
            .dripChunk = 1024};
}

struct Message {
    TMessageKind kind;
    std::string caption, text;
};

struct ReleaseFile {
    std::string name;
    Reply reply;
    std::string checksum;  // empty: the SHA-1 of the reply's body
};

class WizardFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        mRoot = EnterSandbox("wizard");
        SettingsRootKey = HKEY_CURRENT_USER;
        mEnvironment.tickCount = [this] { return mClock.load(); };
        mEnvironment.configurationPause = std::chrono::milliseconds(0);
        mEnvironment.embeddedURL = [] { return std::string(); };
        mEnvironment.shellOpen = [this](const std::string& aPath, const std::vector<std::string>&,
                                        const std::vector<std::string>&) {
            std::lock_guard lock(mMutex);
            mOpened.push_back(aPath);
        };
    }

    void TearDown() override
    {
        mWindow.reset();
        fs::remove_all(mRoot);
    }

    fs::path Home() const { return mRoot / "home"; }

    std::string Info(const std::vector<ReleaseFile>& aFiles, const std::string& aSetup = "setup.sh",
                     const std::string& aInfoLink = "Version information")
    {
        std::string downloads = "[Downloads]\nPath=" + mServer.Url("/rel") + "\n";
        std::string checksums = "[Checksum]\n";
        std::size_t size = 0;
        for (std::size_t i = 0; i < aFiles.size(); ++i) {
            const std::string key = "File" + std::to_string(i + 1);
            downloads += key + "=" + aFiles[i].name + "\n";
            checksums += key + "="
                         + (aFiles[i].checksum.empty() ? Sha1Text(aFiles[i].reply.body) : aFiles[i].checksum)
                         + "\n";
            mServer.SetRoute("/rel/" + aFiles[i].name, aFiles[i].reply);
            size += aFiles[i].reply.body.size();
        }
        return "[General]\nVersion=" + std::string(kDownloaderVersion) + "\nSetup=" + aSetup + "\n"
               + downloads + checksums
               + "[Info]\nLine1=Sample Suite 5.2\nLink=https://example.org/suite\nInfo Link=" + aInfoLink
               + "\nInfo Size=2 files, 1 KB in all\nSize=" + std::to_string(size)
               + "\nEnd1=Click Install to start the installation now.\nEnd2=Setup can also be run later.\n";
    }

    void Serve(const std::string& aInfo)
    {
        mServer.SetRoute("/info.ini", {.body = aInfo});
        RegWriteString(HKEY_CURRENT_USER, kKey, "INIConfig", mServer.Url("/info.ini"));
    }

    // Start-up as the program does it, up to the end of the first connection.
    void Open()
    {
        mWindow = std::make_unique<TfrmMain>(mEnvironment);
        mWindow->SetMessageSink(
            [this](QWidget*, TMessageKind aKind, const QString& aCaption, const QString& aText) {
                mMessages.push_back({aKind, aCaption.toStdString(), aText.toStdString()});
            });
        ASSERT_TRUE(mWindow->Inicializa());
        mWindow->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(mWindow.get()));
        mWindow->Conectar();
    }

    template <typename TWidget = QWidget> TWidget* Find(const char* aName) const
    {
        auto* widget = mWindow->findChild<TWidget*>(QLatin1String(aName));
        EXPECT_NE(widget, nullptr) << aName;
        return widget;
    }
    int Page() const { return Find<QStackedWidget>("PC")->currentIndex(); }
    QString Text(const char* aName) const
    {
        if (auto* edit = mWindow->findChild<QLineEdit*>(QLatin1String(aName)))
            return edit->text();
        if (auto* button = mWindow->findChild<QPushButton*>(QLatin1String(aName)))
            return button->text();
        return Find<QLabel>(aName)->text();
    }
    bool Shown(const char* aName) const { return Find(aName)->isVisibleTo(Find(aName)->parentWidget()); }
    void Click(const char* aName) { QTest::mouseClick(Find(aName), Qt::LeftButton); }
    void Key(Qt::Key aKey)
    {
        QWidget* target = QApplication::focusWidget();
        QTest::keyClick(target && mWindow->isAncestorOf(target) ? target : mWindow.get(), aKey);
    }
    void SetFolder(const std::string& aFolder)
    {
        Find<QLineEdit>("txtFolder")->setText(QString::fromStdString(aFolder));
    }
    std::vector<std::string> Opened()
    {
        std::lock_guard lock(mMutex);
        return mOpened;
    }
    // Waits until bytes of the current file have reached the record. The
    // worker records data at most once a second of its clock, so the fake
    // clock moves on meanwhile; it stands still again afterwards.
    bool DownloadUnderWay(std::uint64_t aBytes = 1)
    {
        const bool underWay = WaitUntil([this, aBytes] {
            mClock += 1001;
            TDownloadData* data = mWindow->DownloadData();
            return data->MostrarProgreso() && data->ArchProgreso() >= aBytes;
        });
        if (!underWay) {
            TDownloadData* data = mWindow->DownloadData();
            ADD_FAILURE() << "page " << Page() << " shown " << data->MostrarProgreso() << " progress "
                          << data->ArchProgreso() << " of " << data->ArchProgresoMax() << " requests "
                          << ::testing::PrintToString(mServer.RequestedPaths());
        }
        return underWay;
    }

    fs::path mRoot;
    LoopbackServer mServer;
    std::atomic<std::uint32_t> mClock{5000};
    TWorkerEnvironment mEnvironment;
    std::unique_ptr<TfrmMain> mWindow;
    std::vector<Message> mMessages;
    std::mutex mMutex;
    std::vector<std::string> mOpened;
};

TEST_F(WizardFlow, NewerWizardIsStartedAndTheWindowCloses)
{
    mServer.SetRoute("/wiz/downloader-3.02", {.body = "#!/bin/sh\nexit 0\n"});
    Serve("[General]\nVersion=3.02\nDownloader=downloader-3.02\nPath=" + mServer.Url("/wiz") + "\n");
    Open();
    EXPECT_EQ(Text("lblAutoUpdate"), QString("Downloader Update ") + kDownloaderVersion);
    EXPECT_EQ(Opened(),
              std::vector<std::string>{(mRoot / "runtime" / "Downloader" / "downloader-3.02").string()});
    EXPECT_TRUE(mWindow->QuitRequested());
}

TEST_F(WizardFlow, ConnectsAndShowsTheReleaseOnTheDestinationPage)
{
    Serve(Info({{"a.bin", {.body = "abc"}}}));
    Open();
    ASSERT_EQ(Page(), TfrmMain::tbDestino);
    EXPECT_EQ(mWindow->windowTitle(), QString("Downloader - Version ") + kDownloaderVersion);
    // The buttons are ours to say, and a window of fixed size has no maximise.
    const Qt::WindowFlags flags = mWindow->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_EQ(Text("lblLineInfo1"), "Sample Suite 5.2");
    EXPECT_EQ(Text("lblInfoSize"), "2 files, 1 KB in all");
    EXPECT_EQ(Text("lblEnd1"), "Click Install to start the installation now.");
    EXPECT_EQ(Text("lblEnd2"), "Setup can also be run later.");
    EXPECT_EQ(Text("txtFolder").toStdString(), Home().string());
    EXPECT_TRUE(Find("btDownload")->isEnabled());
    EXPECT_TRUE(Find("btDownload")->hasFocus());
    EXPECT_EQ(Find<QLineEdit>("txtFolder")->placeholderText(), "<here indicate the destination path>");
    EXPECT_TRUE(mMessages.empty());

    // A folder from the dialog is remembered; one typed by hand is not.
    const fs::path chosen = Home() / "chosen";
    fs::create_directories(chosen);
    mWindow->BrowseDialog().SetExecHook([&](QFileDialog& aDialog) {
        aDialog.selectFile(QString::fromStdString(chosen.string()));
        return true;
    });
    Click("btBrowse");
    EXPECT_EQ(Text("txtFolder").toStdString(), chosen.string());
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kKey, "Destination"), chosen.string());
    Find<QLineEdit>("txtFolder")->clear();
    EXPECT_FALSE(Find("btDownload")->isEnabled());
    Key(Qt::Key_Return);  // Start is disabled: Enter does nothing
    EXPECT_EQ(Page(), TfrmMain::tbDestino);
    QTest::keyClicks(Find("txtFolder"), "/typed");
    EXPECT_TRUE(Find("btDownload")->isEnabled());
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kKey, "Destination"), chosen.string());
}

TEST_F(WizardFlow, CancelWhileConnectingLetsTheConnectionFinishFirst)
{
    Reply info{.body = Info({{"a.bin", {.body = "abc"}}})};
    info.dripDelay = std::chrono::milliseconds(30);  // a few hundred ms in all
    info.dripChunk = 64;
    mServer.SetRoute("/info.ini", info);
    RegWriteString(HKEY_CURRENT_USER, kKey, "INIConfig", mServer.Url("/info.ini"));
    bool pressed = false;
    QTimer::singleShot(50, [&] {
        pressed = true;
        Key(Qt::Key_Escape);  // presses Cancel of the connecting page
    });
    Open();
    EXPECT_TRUE(pressed);
    EXPECT_TRUE(mWindow->QuitRequested());
    EXPECT_FALSE(mWindow->WorkerRunning());
    EXPECT_EQ(Page(), TfrmMain::tbDestino);  // the wait ran to its end
    EXPECT_EQ(Text("lblLineInfo1"), "Sample Suite 5.2");
}

struct LinkCase {
    const char* name;
    std::string infoLink;
    bool shown;
};

void PrintTo(const LinkCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class WizardLink : public WizardFlow, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(WizardLink, ShowsTheLinkOnlyWithAnInfoLinkAndOpensTheProductPage)
{
    Serve(Info({{"a.bin", {.body = "abc"}}}, "setup.sh", GetParam().infoLink));
    Open();
    ASSERT_EQ(Page(), TfrmMain::tbDestino);
    EXPECT_EQ(Shown("lblInfoLink"), GetParam().shown);
    if (!GetParam().shown) {
        EXPECT_TRUE(Text("lblInfoLink").isEmpty());
        return;
    }
    EXPECT_EQ(Text("lblInfoLink").toStdString(), GetParam().infoLink);
    EXPECT_EQ(Find("lblInfoLink")->cursor().shape(), Qt::PointingHandCursor);
    Click("lblInfoLink");
    EXPECT_EQ(Opened(), std::vector<std::string>{"https://example.org/suite"});
}

INSTANTIATE_TEST_SUITE_P(Cases, WizardLink,
                         ::testing::Values(LinkCase{"shown", "Version information", true},
                                           LinkCase{"hidden_when_missing", "", false}),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST_F(WizardFlow, WithoutAnInfoAddressOffersRetryThatConnects)
{
    Open();
    ASSERT_EQ(Page(), TfrmMain::tbNoConectado);
    EXPECT_FALSE(mWindow->WorkerRunning());
    Serve(Info({{"a.bin", {.body = "abc"}}}));
    Key(Qt::Key_Return);  // Retry is the page's default button
    EXPECT_EQ(Page(), TfrmMain::tbDestino);
}

struct FolderCase {
    const char* name;
    std::string folder;
    bool belowRoot;  // folder is relative to the test's scratch root
    const char* warning;
};

void PrintTo(const FolderCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class WizardUnusableFolder : public WizardFlow, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(WizardUnusableFolder, WarnsAndStaysOnTheDestinationPage)
{
    Serve(Info({{"a.bin", {.body = "abc"}}}));
    Open();
    ASSERT_EQ(Page(), TfrmMain::tbDestino);
    std::ofstream(mRoot / "plain-file") << "x";  // nothing can be created below a file, not even by root
    const std::string folder =
        GetParam().belowRoot ? (mRoot / GetParam().folder).string() : GetParam().folder;
    SetFolder(folder);
    Click("btDownload");
    ASSERT_EQ(mMessages.size(), 1u);
    EXPECT_EQ(mMessages[0].kind, TMessageKind::Warning);
    EXPECT_EQ(mMessages[0].caption, "Warning");
    EXPECT_EQ(mMessages[0].text, GetParam().warning);
    EXPECT_EQ(Page(), TfrmMain::tbDestino);
    EXPECT_FALSE(mWindow->WorkerRunning());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WizardUnusableFolder,
    ::testing::Values(
        FolderCase{"below_a_file", "plain-file/sub", true,
                   "Downloader can't create the specified destination folder"},
        FolderCase{"relative", "relative/x", false,
                   "Downloader can't create the specified destination folder"},
        FolderCase{"blanks", "   ", false, "Downloader can't create the specified destination folder"},
        // /proc takes no new files, whoever asks.
        FolderCase{
            "no_files_allowed", "/proc", false,
            "Downloader doesn't have sufficient rights to perform this operation in destination folder."}),
    [](const auto& aInfo) { return std::string(aInfo.param.name); });

struct InstallCase {
    const char* name;
    std::string setup;
    bool installShown;
};

void PrintTo(const InstallCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class WizardDownload : public WizardFlow, public ::testing::WithParamInterface<InstallCase> {};

TEST_P(WizardDownload, DownloadsEveryFileToTheInstallPage)
{
    Serve(Info({{"a.bin", {.body = "abc"}}, {"b.bin", {.body = std::string(3000, 'b')}}}, GetParam().setup));
    Open();
    ASSERT_EQ(Page(), TfrmMain::tbDestino);
    const fs::path destination = Home() / "new" / "folder";
    SetFolder(destination.string());
    Key(Qt::Key_Return);  // Start
    ASSERT_TRUE(WaitUntil([this] { return Page() == TfrmMain::tbInstalar && !mWindow->WorkerRunning(); }));
    EXPECT_TRUE(fs::exists(destination / "a.bin"));
    EXPECT_EQ(fs::file_size(destination / "b.bin"), 3000u);
    EXPECT_EQ(mWindow->windowTitle(), "Downloader");
    EXPECT_EQ(Text("btCancel"), "Cancel");
    EXPECT_EQ(Shown("btInstall"), GetParam().installShown);
    EXPECT_TRUE(Find(GetParam().installShown ? "btInstall" : "btExit2")->hasFocus());

    Key(Qt::Key_Return);
    EXPECT_TRUE(mWindow->QuitRequested());
    if (GetParam().installShown)
        EXPECT_EQ(Opened(), std::vector<std::string>{(destination / GetParam().setup).string()});
    else
        EXPECT_TRUE(Opened().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, WizardDownload,
                         ::testing::Values(InstallCase{"with_setup", "setup.sh", true},
                                           InstallCase{"without_setup", "", false}),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST_F(WizardFlow, FailedFileInterruptsWithTheConnectionLineAndRetryFinishes)
{
    const std::string good = "the real content";
    Serve(Info({{"a.bin", {.body = "not the content"}, Sha1Text(good)}}));
    Open();
    SetFolder((Home() / "dest").string());
    Click("btDownload");
    ASSERT_TRUE(WaitUntil([this] { return Page() == TfrmMain::tbInterrupted && !mWindow->WorkerRunning(); }));
    EXPECT_TRUE(Shown("lblConnectionProblem"));
    EXPECT_TRUE(Find("btRetryDown")->isEnabled());
    EXPECT_TRUE(mMessages.empty());

    mServer.SetRoute("/rel/a.bin", {.body = good});
    Click("btRetryDown");
    ASSERT_TRUE(WaitUntil([this] { return Page() == TfrmMain::tbInstalar; }));
}

enum class CancelWay { Button, Escape, StallCheck };

std::string CancelWayName(CancelWay aWay)
{
    switch (aWay) {
    case CancelWay::Button: return "button";
    case CancelWay::Escape: return "escape";
    case CancelWay::StallCheck: return "stall_check";
    }
    return "unknown";
}

class WizardCancel : public WizardFlow, public ::testing::WithParamInterface<CancelWay> {};

TEST_P(WizardCancel, StopsTheDownloadWithoutTheConnectionLine)
{
    Serve(Info({{"slow.bin", SlowReply()}}));
    Open();
    SetFolder((Home() / "dest").string());
    Click("btDownload");
    ASSERT_EQ(Page(), TfrmMain::tbDownload);
    ASSERT_TRUE(DownloadUnderWay(kSlowStallAt));  // all the server sends before it stalls
    switch (GetParam()) {
    case CancelWay::Button: Click("btCancel"); break;
    case CancelWay::Escape: Key(Qt::Key_Escape); break;
    case CancelWay::StallCheck:
        mWindow->UpdateProgress();  // the figure is seen for the first time
        mClock += 180000;
        mWindow->UpdateProgress();  // three minutes exactly: still waiting
        ASSERT_EQ(Page(), TfrmMain::tbDownload);
        mClock += 1;
        QCoreApplication::postEvent(mWindow.get(), new QEvent(kProgressEvent));
        QCoreApplication::sendPostedEvents(mWindow.get(), kProgressEvent);
        break;
    }
    ASSERT_EQ(Page(), TfrmMain::tbInterrupted);
    EXPECT_FALSE(Shown("lblConnectionProblem"));
    ASSERT_TRUE(WaitUntil([this] { return !mWindow->WorkerRunning(); }));
    EXPECT_EQ(Page(), TfrmMain::tbInterrupted);
    EXPECT_EQ(Text("btCancel"), "Cancel");
    EXPECT_TRUE(Find("btCancel")->isEnabled());
    EXPECT_TRUE(Find("btRetryDown")->isEnabled());
    EXPECT_TRUE(mMessages.empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, WizardCancel,
                         ::testing::Values(CancelWay::Button, CancelWay::Escape, CancelWay::StallCheck),
                         [](const auto& aInfo) { return CancelWayName(aInfo.param); });

TEST_F(WizardFlow, RetryWaitsUntilTheCancelledWorkerHasEnded)
{
    Serve(Info({{"slow.bin", SlowReply()}}));
    Open();
    SetFolder((Home() / "dest").string());
    Click("btDownload");
    ASSERT_TRUE(DownloadUnderWay());
    Click("btCancel");
    // Until the worker has ended there is nothing to retry with.
    if (mWindow->WorkerRunning()) {
        EXPECT_FALSE(Find("btRetryDown")->isEnabled());
        EXPECT_EQ(Text("btCancel"), "Canceling...");
        Key(Qt::Key_Return);
        EXPECT_EQ(Page(), TfrmMain::tbInterrupted);
    }
    ASSERT_TRUE(WaitUntil([this] { return Find("btRetryDown")->isEnabled(); }));
    Key(Qt::Key_Return);
    EXPECT_EQ(Page(), TfrmMain::tbDownload);
    EXPECT_TRUE(mWindow->WorkerRunning());
}

TEST_F(WizardFlow, ClosingMidDownloadStopsTheWorkerBeforeTheRecordGoes)
{
    Serve(Info({{"slow.bin", SlowReply()}}));
    Open();
    SetFolder((Home() / "dest").string());
    Click("btDownload");
    ASSERT_TRUE(DownloadUnderWay());
    mWindow->close();
    EXPECT_TRUE(mWindow->QuitRequested());
    EXPECT_FALSE(mWindow->WorkerRunning());
    // The worker was cancelled and has ended: the record holds its last word.
    EXPECT_TRUE(mWindow->DownloadData()->Cancelado());
    EXPECT_TRUE(mWindow->DownloadData()->Terminado());
    QCoreApplication::processEvents();  // a late end event finds no worker to end
    EXPECT_EQ(Page(), TfrmMain::tbDownload);
    mWindow.reset();
}

TEST_F(WizardFlow, DestroyingTheWindowMidDownloadIsSafe)
{
    Serve(Info({{"slow.bin", SlowReply()}}));
    Open();
    SetFolder((Home() / "dest").string());
    Click("btDownload");
    ASSERT_TRUE(DownloadUnderWay());
    mWindow.reset();  // no close first: the destructor stops the worker itself
    QCoreApplication::processEvents();
}

TEST_F(WizardFlow, ShowsFiveGibibyteFiguresAsTheirShare)
{
    Open();  // not connected: no worker, the record is ours to fill
    TDownloadData& data = *mWindow->DownloadData();
    data.SetTerminado(false);  // an operation under way
    const std::uint64_t fiveGiB = std::uint64_t{5} << 30;
    data.SetMostrarProgreso(true);
    data.SetArchivoDown("huge.iso");
    data.SetArchProgresoMax(fiveGiB);
    data.SetArchProgreso(fiveGiB / 2);
    data.SetNumber(1);
    data.SetTotal(1);
    data.SetSize(static_cast<double>(fiveGiB) * 2);
    data.SetAcumulado(static_cast<double>(fiveGiB / 2));
    data.SetTStart(1000);
    data.SetTAcumStart(1000);
    mClock = 1000 + 60000;  // half the file in a minute
    mWindow->UpdateProgress();

    auto* file = Find<QProgressBar>("pbFile");
    auto* all = Find<QProgressBar>("pbAll");
    EXPECT_NEAR(double(file->value()) / file->maximum(), 0.5, 1e-4);
    EXPECT_NEAR(double(all->value()) / all->maximum(), 0.25, 1e-4);
    EXPECT_EQ(Text("lblFile"), "huge.iso");
    EXPECT_EQ(Text("edNumber"), "50.00 %");
    EXPECT_EQ(Text("edTotal"), "25.00 %");
    EXPECT_EQ(mWindow->windowTitle(), "Downloading... 25.00 %");
    EXPECT_EQ(Text("edNumberLeft"), "Estimated time left: 00:01:00");
    EXPECT_EQ(Text("edTotalLeft"), "Estimated time left: 00:03:00");

    // More than announced: the shares pass 100 and the estimates stay as they were.
    data.SetArchProgreso(fiveGiB + 1);
    data.SetAcumulado(static_cast<double>(fiveGiB) * 3);
    mClock += 1000;
    mWindow->UpdateProgress();
    EXPECT_EQ(Text("edNumber"), "100.00 %");
    EXPECT_EQ(Text("edTotal"), "150.00 %");
    EXPECT_EQ(file->value(), file->maximum());
    EXPECT_EQ(Text("edNumberLeft"), "Estimated time left: 00:01:00");
    EXPECT_EQ(Text("edTotalLeft"), "Estimated time left: 00:03:00");

    // Before the first file: "0 %", and the overall bar counts files.
    data.SetArchProgreso(0);
    data.SetNumber(0);
    data.SetTotal(4);
    mWindow->UpdateProgress();
    EXPECT_EQ(Text("edNumber"), "0 %");
    EXPECT_EQ(Text("edTotal"), "0 %");
    EXPECT_EQ(all->maximum(), 4);

    // Finished: nothing changes any more.
    data.SetTerminado(true);
    data.SetArchivoDown("other.iso");
    mWindow->UpdateProgress();
    EXPECT_EQ(Text("lblFile"), "huge.iso");
}

struct GuessCase {
    const char* name;
    std::vector<std::string> folders;  // below HOME
    std::string stored;                // "Destination", below HOME; "" for none
    std::string browser;               // "Download Directory", below HOME; "" for none
    std::string xdgDownload;           // DOWNLOAD in user-dirs.dirs, below HOME; "" for none
    std::string expected;              // below HOME
};

void PrintTo(const GuessCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const GuessCase kGuessCases[] = {
    {"stored_folder_wins", {"mine", "web"}, "mine", "web", "", "mine"},
    {"stored_but_gone_skips_browser", {"web", "Downloads"}, "gone", "web", "", "Downloads"},
    {"browser_folder", {"web", "Downloads"}, "", "web", "", "web"},
    {"browser_folder_gone", {"Descargas"}, "", "gone", "", "Descargas"},
    {"desktop_download_folder", {"Bajadas"}, "", "", "Bajadas", "Bajadas"},
    {"browser_before_desktop", {"web", "Bajadas"}, "", "web", "Bajadas", "web"},
    {"downloads_and_descargas", {"Downloads", "Descargas"}, "", "", "", "Downloads"},
    {"descargas_inside_downloads", {"Downloads/Descargas", "Descargas"}, "", "", "", "Downloads/Descargas"},
    {"neither", {}, "", "", "", ""},
};

class DestinationGuess : public WizardFlow, public ::testing::WithParamInterface<GuessCase> {};

TEST_P(DestinationGuess, PicksTheFirstFolderThatExists)
{
    const GuessCase& guess = GetParam();
    for (const std::string& folder : guess.folders)
        fs::create_directories(Home() / folder);
    const auto underHome = [this](const std::string& aPath) { return (Home() / aPath).string(); };
    if (!guess.stored.empty())
        RegWriteString(HKEY_CURRENT_USER, kKey, "Destination", underHome(guess.stored));
    if (!guess.browser.empty())
        RegWriteString(HKEY_CURRENT_USER, "\\Software\\Microsoft\\Internet Explorer", "Download Directory",
                       underHome(guess.browser));
    if (!guess.xdgDownload.empty())
        std::ofstream(mRoot / "config" / "user-dirs.dirs")
            << "XDG_DOWNLOAD_DIR=\"$HOME/" << guess.xdgDownload << "\"\n";

    mWindow = std::make_unique<TfrmMain>(mEnvironment);
    ASSERT_TRUE(mWindow->Inicializa());
    const fs::path expected = guess.expected.empty() ? Home() : Home() / guess.expected;
    EXPECT_EQ(Text("txtFolder").toStdString(), expected.string());
    EXPECT_TRUE(Find("btDownload")->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Cases, DestinationGuess, ::testing::ValuesIn(kGuessCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

}  // namespace
