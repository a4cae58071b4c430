// Downloads from the window: to the install page, a failed file and its
// retry, cancels, and closing or destroying the window mid-download.

#include "tests/app/wizard_flow_fixture.h"

namespace {

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
    // Setup starts only as a file this download verified.
    std::vector<ReleaseFile> files{{"a.bin", {.body = "abc"}}, {"b.bin", {.body = std::string(3000, 'b')}}};
    if (!GetParam().setup.empty())
        files.push_back({GetParam().setup, {.body = "#!/bin/sh\nexit 0\n"}});
    Serve(Info(files, GetParam().setup));
    Open();
    ASSERT_EQ(Page(), TfrmMain::tbDestino);
    const std::filesystem::path destination = Home() / "new" / "folder";
    SetFolder(destination.string());
    Key(Qt::Key_Return);  // Start
    ASSERT_TRUE(WaitUntil([this] { return Page() == TfrmMain::tbInstalar && !mWindow->WorkerRunning(); }));
    EXPECT_TRUE(std::filesystem::exists(destination / "a.bin"));
    EXPECT_EQ(std::filesystem::file_size(destination / "b.bin"), 3000u);
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
    Serve(Info({{"a.bin", {.body = "not the content"}, Sha1Hex(good)}}));
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

void PrintTo(CancelWay aWay, std::ostream* aOut)
{
    *aOut << CancelWayName(aWay);
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

}  // namespace
