// The window with a vendor key: what the user sees of a signed release, a
// refused info file and a refused newer wizard.

#include <gtest/gtest.h>

#include <QStackedWidget>
#include <QTest>
#include <filesystem>
#include <memory>

#include "app/main_window.h"
#include "components/sha1.h"
#include "components/sha256.h"
#include "platform/settings.h"
#include "tests/app/qt_printers.h"
#include "tests/support/loopback_server.h"
#include "tests/support/minisign_tool.h"
#include "tests/support/scratch_folder.h"

namespace {

struct Message {
    TMessageKind kind;
    std::string text;
};

std::string Sha1Text(const std::string& aBytes)
{
    Sha1Core core;
    core.Update(aBytes.data(), aBytes.size());
    return DigestToHex(core.Final());
}

class SignedWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(MinisignToolPresent()) << "these tests need Debian's minisign package";
        sVendor = std::make_unique<MinisignToolKey>("window-vendor");
    }
    static void TearDownTestSuite() { sVendor.reset(); }

    void SetUp() override
    {
        SettingsRootKey = HKEY_CURRENT_USER;
        mEnvironment.configurationPause = std::chrono::milliseconds(0);
        mEnvironment.embeddedURL = [] { return std::string(); };
        mEnvironment.shellOpen = [this](const std::string& aPath, const std::vector<std::string>&,
                                        const std::vector<std::string>&, int) { mOpened.push_back(aPath); };
        mEnvironment.publicKey = sVendor->KeyLine();
        mServer.SetRoute("/wiz/downloader-new", {.body = kWizard});
        mServer.SetRoute("/rel/a.bin", {.body = "abc"});
    }
    void TearDown() override { mWindow.reset(); }

    std::string Info(const std::string& aWizardDigest) const
    {
        return "[General]\nInfoAddress=" + mServer.Url("/info.ini")
               + "\nVersion=3.02\nDownloader=downloader-new\nPath=" + mServer.Url("/wiz")
               + "\nDownloaderSHA256=" + aWizardDigest + "\n[Downloads]\nPath=" + mServer.Url("/rel")
               + "\nFile1=a.bin\n[Checksum]\nFile1=" + Sha1Text("abc") + "\n[Info]\nLine1=Sample Suite\n";
    }
    void Serve(const std::string& aInfo, const std::string& aSignature)
    {
        mServer.SetRoute("/info.ini", {.body = aInfo});
        mServer.SetRoute("/info.ini.minisig", {.body = aSignature});
        RegWriteString(HKEY_CURRENT_USER, "\\SOFTWARE\\Corvane\\Downloader", "INIConfig",
                       mServer.Url("/info.ini"));
    }
    void Open()
    {
        mWindow = std::make_unique<TfrmMain>(mEnvironment);
        mWindow->SetMessageSink([this](QWidget*, TMessageKind aKind, const QString&, const QString& aText) {
            mMessages.push_back({aKind, aText.toStdString()});
        });
        ASSERT_TRUE(mWindow->Inicializa());
        mWindow->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(mWindow.get()));
        mWindow->Conectar();
    }
    int Page() const { return mWindow->findChild<QStackedWidget*>(QLatin1String("PC"))->currentIndex(); }
    std::string WizardDigest() const
    {
        Sha256Core core;
        core.Update(kWizard.data(), kWizard.size());
        return Sha256ToHex(core.Final());
    }

    static inline const std::string kWizard = "#!/bin/sh\nexit 0\n";
    static inline std::unique_ptr<MinisignToolKey> sVendor;
    ScratchHome mScratch;  // first: the environment is set before any thread starts
    LoopbackServer mServer;
    TWorkerEnvironment mEnvironment;
    std::unique_ptr<TfrmMain> mWindow;
    std::vector<Message> mMessages;
    std::vector<std::string> mOpened;
};

TEST_F(SignedWindow, SignedNewerWizardIsStarted)
{
    const std::string info = Info(WizardDigest());
    Serve(info, sVendor->Sign(info));
    Open();
    EXPECT_EQ(mOpened.size(), 1u);
    EXPECT_TRUE(mWindow->QuitRequested());
    EXPECT_TRUE(mMessages.empty());
}

TEST_F(SignedWindow, TamperedInfoFileShowsTheNotConnectedPage)
{
    const std::string info = Info(WizardDigest());
    std::string tampered = info;
    tampered.replace(tampered.find("Sample Suite"), 12, "Sample Trap!");
    Serve(tampered, sVendor->Sign(info));
    Open();
    EXPECT_EQ(Page(), TfrmMain::tbNoConectado);
    EXPECT_TRUE(mOpened.empty());
    EXPECT_EQ(mServer.RequestCount("/wiz/downloader-new"), 0u);
    EXPECT_FALSE(mWindow->QuitRequested());
}

TEST_F(SignedWindow, UnmatchedNewerWizardIsNotStartedAndTheUserIsTold)
{
    const std::string info = Info(std::string(64, 'f'));
    Serve(info, sVendor->Sign(info));
    Open();
    EXPECT_EQ(Page(), TfrmMain::tbDestino);
    EXPECT_TRUE(mOpened.empty());
    ASSERT_EQ(mMessages.size(), 1u);
    EXPECT_EQ(mMessages[0].kind, TMessageKind::Warning);
    EXPECT_EQ(mMessages[0].text,
              "newer wizard downloader-new not started: it does not match its DownloaderSHA256");
}

TEST_F(SignedWindow, OlderInfoFileThanOneAcceptedShowsTheNotConnectedPage)
{
    const std::string info = Info(WizardDigest());
    Serve(info, sVendor->Sign(info, false, "timestamp:1700000000"));
    Open();
    ASSERT_TRUE(mWindow->QuitRequested()) << "accepted, and its newer wizard started";
    mWindow.reset();
    mOpened.clear();

    // The same address, a genuine file signed earlier: a rollback.
    Serve(info, sVendor->Sign(info, false, "timestamp:1000000000"));
    Open();
    EXPECT_EQ(Page(), TfrmMain::tbNoConectado);
    EXPECT_TRUE(mOpened.empty());
    EXPECT_EQ(mServer.RequestCount("/wiz/downloader-new"), 1u) << "only the first time";
    EXPECT_FALSE(mWindow->QuitRequested());
}

}  // namespace
