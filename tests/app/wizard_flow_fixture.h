#pragma once
// The fixture of the window's whole-flow tests: the wizard window against a
// loopback server, with real clicks and keys, a fake tick clock, and a
// private home and settings per test.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "components/sha1.h"
#include "platform/settings.h"
#include "tests/app/qt_printers.h"
#include "tests/support/eventually.h"
#include "tests/support/loopback_server.h"
#include "tests/support/scratch_folder.h"

// Processes events until aCondition holds; false if it never does.
template <typename TCondition> bool WaitUntil(TCondition aCondition)
{
    return Eventually(aCondition, kEventuallyLimit, [] { QTest::qWait(10); });
}

// Drips its first bytes, so that the worker records several updates, then
// falls silent with the connection open until the client goes.
inline constexpr std::size_t kSlowStallAt = 8192;
inline Reply SlowReply()
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
        SettingsRootKey = HKEY_CURRENT_USER;
        mEnvironment.tickCount = [this] { return mClock.load(); };
        mEnvironment.configurationPause = std::chrono::milliseconds(0);
        mEnvironment.embeddedURL = [] { return std::string(); };
        mEnvironment.shellOpen = [this](const std::string& aPath, const std::vector<std::string>&,
                                        const std::vector<std::string>&, int) {
            std::lock_guard lock(mMutex);
            mOpened.push_back(aPath);
        };
    }

    void TearDown() override { mWindow.reset(); }

    std::filesystem::path Home() const { return mRoot / "home"; }

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
                         + (aFiles[i].checksum.empty() ? Sha1Hex(aFiles[i].reply.body) : aFiles[i].checksum)
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
        RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, "INIConfig", mServer.Url("/info.ini"));
    }

    // Start-up as the program does it, up to the end of the first connection.
    // aWhileConnecting runs from the connection's wait, once the window is on
    // the screen.
    void Open(std::function<void()> aWhileConnecting = {})
    {
        mWindow = std::make_unique<TfrmMain>(mEnvironment);
        mWindow->SetMessageSink(
            [this](QWidget*, TMessageKind aKind, const QString& aCaption, const QString& aText) {
                mMessages.push_back({aKind, aCaption.toStdString(), aText.toStdString()});
            });
        ASSERT_TRUE(mWindow->Inicializa());
        mWindow->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(mWindow.get()));
        if (aWhileConnecting)
            QTimer::singleShot(0, mWindow.get(), std::move(aWhileConnecting));
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

    ScratchHome mScratch;  // first: the environment is set before any thread starts
    const std::filesystem::path mRoot = mScratch.Root();
    LoopbackServer mServer;
    std::atomic<std::uint32_t> mClock{5000};
    TWorkerEnvironment mEnvironment;
    std::unique_ptr<TfrmMain> mWindow;
    std::vector<Message> mMessages;
    std::mutex mMutex;
    std::vector<std::string> mOpened;
};
