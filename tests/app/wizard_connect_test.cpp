// The window's start: connecting, a newer wizard, the release on the
// destination page, its link, and a retry after a failed connection.

#include "tests/app/wizard_flow_fixture.h"

#include <QFileDialog>

#include "tests/support/file_bytes.h"
#include "tests/support/versions.h"

namespace {

TEST_F(WizardFlow, NewerWizardIsStartedAndTheWindowCloses)
{
    // Local files: a wizard without a key fetches no newer one over plain http.
    std::filesystem::create_directories(mRoot / "wiz");
    WriteFileBytes(mRoot / "wiz" / "downloader-new", "#!/bin/sh\nexit 0\n");
    WriteFileBytes(mRoot / "info.ini", "[General]\nVersion=" + NewerVersion()
                                           + "\nDownloader=downloader-new\nPath=" + (mRoot / "wiz").string()
                                           + "\n");
    RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "INIConfig", (mRoot / "info.ini").string());
    Open();
    EXPECT_EQ(Text("lblAutoUpdate"), QString("Downloader Update ") + kDownloaderVersion);
    EXPECT_EQ(Opened(),
              std::vector<std::string>{(mRoot / "runtime" / "Downloader" / "downloader-new").string()});
    EXPECT_TRUE(mWindow->QuitRequested());
}

TEST_F(WizardFlow, NewerWizardOverPlainHttpIsNotFetchedAndTheUserIsTold)
{
    mServer.SetRoute("/wiz/downloader-new", {.body = "#!/bin/sh\nexit 0\n"});
    const std::string release = Info({{"a.bin", {.body = "abc"}}});
    Serve("[General]\nVersion=" + NewerVersion() + "\nDownloader=downloader-new\nPath=" + mServer.Url("/wiz")
          + "\n" + release.substr(release.find("[Downloads]")));
    Open();
    EXPECT_EQ(Page(), TfrmMain::tbDestino);
    EXPECT_EQ(Text("lblLineInfo1"), "Sample Suite 5.2");
    EXPECT_TRUE(Opened().empty());
    EXPECT_FALSE(mWindow->QuitRequested());
    EXPECT_EQ(mServer.RequestCount("/wiz/downloader-new"), 0u);
    ASSERT_EQ(mMessages.size(), 1u);
    EXPECT_EQ(mMessages[0].kind, TMessageKind::Warning);
    EXPECT_EQ(mMessages[0].text,
              "newer wizard downloader-new not fetched: a wizard without a signing key starts"
              " a newer one only when it and the info file come over https or from local files");
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
    const std::filesystem::path chosen = Home() / "chosen";
    std::filesystem::create_directories(chosen);
    mWindow->BrowseDialog().SetExecHook([&](QFileDialog& aDialog) {
        aDialog.selectFile(QString::fromStdString(chosen.string()));
        return true;
    });
    Click("btBrowse");
    EXPECT_EQ(Text("txtFolder").toStdString(), chosen.string());
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination"), chosen.string());
    Find<QLineEdit>("txtFolder")->clear();
    EXPECT_FALSE(Find("btDownload")->isEnabled());
    Key(Qt::Key_Return);  // Start is disabled: Enter does nothing
    EXPECT_EQ(Page(), TfrmMain::tbDestino);
    QTest::keyClicks(Find("txtFolder"), "/typed");
    EXPECT_TRUE(Find("btDownload")->isEnabled());
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kProgramSettingsKey, "Destination"), chosen.string());
}

TEST_F(WizardFlow, CancelWhileConnectingLetsTheConnectionFinishFirst)
{
    Reply info{.body = Info({{"a.bin", {.body = "abc"}}})};
    info.dripDelay = std::chrono::milliseconds(30);  // a few hundred ms in all
    info.dripChunk = 64;
    mServer.SetRoute("/info.ini", info);
    RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "INIConfig", mServer.Url("/info.ini"));
    bool pressed = false;
    Open([&] {
        pressed = true;
        EXPECT_EQ(Page(), TfrmMain::tbConectando);
        Key(Qt::Key_Escape);  // presses Cancel of the connecting page
    });
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

}  // namespace
