#pragma once
// A sandbox for runs of the worker, shared by the engine and console tests
// (header only: for test binaries that link the engine): a private home with
// settings and temporary folders, a fake tick clock, a host that records what
// the worker reports, and a loopback server that serves a release.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "components/sha1.h"
#include "downloader_version.h"
#include "engine/thread_downloads.h"
#include "platform/settings.h"
#include "tests/support/file_bytes.h"
#include "tests/support/loopback_server.h"
#include "tests/support/scratch_folder.h"

class RecordingHost : public TWorkerHost {
public:
    void PostProgress() noexcept override
    {
        ++mPosts;
        if (mOnPost)
            mOnPost();
    }
    void EnableStallTimer(bool aEnabled) noexcept override { mStallTimerEnabled = aEnabled; }
    void FileVerified(const std::string& aFileName) noexcept override
    {
        {
            std::lock_guard lock(mMutex);
            mVerified.push_back(aFileName);
        }
        if (mOnVerified)
            mOnVerified();
    }
    std::vector<std::string> Verified()
    {
        std::lock_guard lock(mMutex);
        return mVerified;
    }
    void AttemptFailed(const std::string& aFileName, int aAttempt,
                       const std::string& aReason) noexcept override
    {
        {
            std::lock_guard lock(mMutex);
            mFailures.push_back(aFileName + " #" + std::to_string(aAttempt) + ": " + aReason);
        }
        if (mOnAttemptFailed)
            mOnAttemptFailed(aAttempt);
    }
    // "NAME #ATTEMPT: reason" for each failed attempt.
    std::vector<std::string> Failures()
    {
        std::lock_guard lock(mMutex);
        return mFailures;
    }
    void VersionUnreadable(const std::string& aText) noexcept override
    {
        std::lock_guard lock(mMutex);
        mUnreadableVersions.push_back(aText);
    }
    std::vector<std::string> UnreadableVersions()
    {
        std::lock_guard lock(mMutex);
        return mUnreadableVersions;
    }
    void OperationEndedEarly(TEarlyEnd aWhy, const std::string& aDetail) noexcept override
    {
        std::lock_guard lock(mMutex);
        if (aWhy == TEarlyEnd::InfoSignatureRefused)
            mSignatureRefusal = aDetail;
        if (aWhy == TEarlyEnd::SignedInfoRefused)
            mSignedInfoRefusal = aDetail;
        mEarlyEnd = aDetail;
    }
    // The detail of the last early end of any kind; "" for none.
    std::string EarlyEnd()
    {
        std::lock_guard lock(mMutex);
        return mEarlyEnd;
    }
    // The last reason the info file's signature was refused; "" for none.
    std::string SignatureRefusal()
    {
        std::lock_guard lock(mMutex);
        return mSignatureRefusal;
    }
    // The last reason a genuine signed info file was refused (another
    // address or release, or older than one accepted); "" for none.
    std::string SignedInfoRefusal()
    {
        std::lock_guard lock(mMutex);
        return mSignedInfoRefusal;
    }

    std::atomic<int> mPosts{0};
    std::atomic<bool> mStallTimerEnabled{false};
    std::function<void()> mOnVerified;                   // worker thread
    std::function<void()> mOnPost;                       // worker thread, after the record was updated
    std::function<void(int aAttempt)> mOnAttemptFailed;  // worker thread

private:
    std::mutex mMutex;
    std::vector<std::string> mVerified;
    std::vector<std::string> mFailures;
    std::vector<std::string> mUnreadableVersions;
    std::string mSignatureRefusal;
    std::string mSignedInfoRefusal;
    std::string mEarlyEnd;
};

struct ServedFile {
    std::string name;
    std::string body;
};

class EngineSandbox : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(Dest());
        SettingsRootKey = HKEY_CURRENT_USER;
        mEnvironment.tickCount = [this] { return mClock.load(); };
        mEnvironment.configurationPause = std::chrono::milliseconds(0);
        mEnvironment.embeddedURL = [] { return std::string(); };
        mEnvironment.shellOpen = [this](const std::string& aPath, const std::vector<std::string>& aArgs,
                                        const std::vector<std::string>& aEnvironment, int aFd) {
            std::lock_guard lock(mLaunchMutex);
            mLaunches.push_back({aPath, aArgs, aEnvironment, aFd});
        };
        mData.SetVersionLocal(ThreadDownloads::VersionToInt(kDownloaderVersion));
    }

    // The info file of a release of this very version, whose files the
    // server serves under /rel/.
    std::string ReleaseInfo(const std::vector<ServedFile>& aFiles, const std::string& aExtra = "")
    {
        std::string downloads = "[Downloads]\nPath=" + mServer.Url("/rel") + "\n";
        std::string checksums = "[Checksum]\n";
        double size = 0;
        for (std::size_t i = 0; i < aFiles.size(); ++i) {
            const std::string key = "File" + std::to_string(i + 1);
            downloads += key + "=" + aFiles[i].name + "\n";
            checksums += key + "=" + Sha1Hex(aFiles[i].body) + "\n";
            mServer.SetRoute("/rel/" + aFiles[i].name, {.body = aFiles[i].body});
            size += static_cast<double>(aFiles[i].body.size());
        }
        return "[General]\nVersion=" + std::string(kDownloaderVersion) + "\nSetup=setup.sh\n" + downloads
               + checksums + "[Info]\nLine1=Sample Suite 5.2\nInfo Size=3 files\nSize="
               + std::to_string(static_cast<long long>(size)) + "\n" + aExtra;
    }

    void SetSetting(const char* aName, const std::string& aValue)
    {
        RegWriteString(HKEY_CURRENT_USER, kProgramSettingsKey, aName, aValue);
    }

    void ServeInfo(const std::string& aInfo)
    {
        mServer.SetRoute("/info.ini", {.body = aInfo});
        SetSetting("INIConfig", mServer.Url("/info.ini"));
    }

    // A folder of local files standing in for the server, for what a wizard
    // without a key takes only from https or local files (a newer wizard).
    std::filesystem::path LocalServer() const { return mRoot / "local-server"; }
    // aInfo as a local file that INIConfig names.
    void ServeInfoLocally(const std::string& aInfo)
    {
        std::filesystem::create_directories(LocalServer());
        WriteFileBytes(LocalServer() / "info.ini", aInfo);
        SetSetting("INIConfig", (LocalServer() / "info.ini").string());
    }
    // aBody as the local file aName in the folder this returns.
    std::string PlaceLocally(const std::string& aName, const std::string& aBody)
    {
        std::filesystem::create_directories(LocalServer() / "wiz");
        WriteFileBytes(LocalServer() / "wiz" / aName, aBody);
        return (LocalServer() / "wiz").string();
    }

    void Run(TWebOperation aOperation)
    {
        mData.SetOperacion(aOperation);
        mData.SetTerminado(false);
        ThreadDownloads worker(true, mData, mHost, mEnvironment);
        worker.Start();
        worker.WaitFor();
        ASSERT_TRUE(mData.Terminado());
    }

    // Configuration, then download into the sandbox's destination folder.
    void ConfigureAndDownload()
    {
        Run(TWebOperation::twoConfiguration);
        ASSERT_TRUE(mData.Result());
        mData.SetCarpetaDestino(Dest().string());
        Run(TWebOperation::twoDownload);
    }

    std::filesystem::path Dest() const { return mRoot / "dest"; }
    // Every entry below the destination (hidden ones too), relative to it, sorted.
    std::vector<std::string> DestEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(Dest()))
            names.push_back(entry.path().lexically_relative(Dest()).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    struct Launch {
        std::string path;
        std::vector<std::string> args;
        std::vector<std::string> environment;
        int fd = -1;  // the verified descriptor the program was to start from
    };

    ScratchHome mScratch;  // first: the environment is set before any thread starts
    const std::filesystem::path mRoot = mScratch.Root();
    LoopbackServer mServer{{}};
    TDownloadData mData;
    RecordingHost mHost;
    std::atomic<std::uint32_t> mClock{5000};
    TWorkerEnvironment mEnvironment;
    std::mutex mLaunchMutex;
    std::vector<Launch> mLaunches;
};
