#pragma once
// A sandbox for engine runs: private HOME, settings and temporary folders, a
// fake tick clock, a host that records what the worker reports, and a
// loopback server that serves a release.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "components/sha1.h"
#include "engine/thread_downloads.h"
#include "platform/settings.h"
#include "tests/support/loopback_server.h"
#include "tests/support/sandbox.h"

inline std::string Sha1Text(const std::string& aBytes)
{
    TSHA1Hasher hasher;
    hasher.HashBuffer(aBytes.data(), aBytes.size());
    TSHA1Digest digest;
    hasher.GetDigest(digest);
    return DigestToHex(digest);
}

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
};

struct ServedFile {
    std::string name;
    std::string body;
};

class EngineSandbox : public ::testing::Test {
protected:
    void SetUp() override
    {
        mRoot = EnterSandbox("engine");
        std::filesystem::create_directories(Dest());
        SettingsRootKey = HKEY_CURRENT_USER;
        mEnvironment.tickCount = [this] { return mClock.load(); };
        mEnvironment.configurationPause = std::chrono::milliseconds(0);
        mEnvironment.embeddedURL = [] { return std::string(); };
        mEnvironment.shellOpen = [this](const std::string& aPath, const std::vector<std::string>& aArgs,
                                        const std::vector<std::string>& aEnvironment) {
            std::lock_guard lock(mLaunchMutex);
            mLaunches.push_back({aPath, aArgs, aEnvironment});
        };
        mData.SetVersionLocal(301);
    }
    void TearDown() override { std::filesystem::remove_all(mRoot); }

    // The info file of a release whose files the server serves under /rel/.
    std::string ReleaseInfo(const std::vector<ServedFile>& aFiles, const std::string& aExtra = "")
    {
        std::string downloads = "[Downloads]\nPath=" + mServer.Url("/rel") + "\n";
        std::string checksums = "[Checksum]\n";
        double size = 0;
        for (std::size_t i = 0; i < aFiles.size(); ++i) {
            const std::string key = "File" + std::to_string(i + 1);
            downloads += key + "=" + aFiles[i].name + "\n";
            checksums += key + "=" + Sha1Text(aFiles[i].body) + "\n";
            mServer.SetRoute("/rel/" + aFiles[i].name, {.body = aFiles[i].body});
            size += static_cast<double>(aFiles[i].body.size());
        }
        return "[General]\nVersion=3.01\nSetup=setup.sh\n" + downloads + checksums
               + "[Info]\nLine1=Sample Suite 5.2\nInfo Size=3 files\nSize="
               + std::to_string(static_cast<long long>(size)) + "\n" + aExtra;
    }

    void ServeInfo(const std::string& aInfo)
    {
        mServer.SetRoute("/info.ini", {.body = aInfo});
        RegWriteString(HKEY_CURRENT_USER, "\\SOFTWARE\\Corvane\\Downloader", "INIConfig",
                       mServer.Url("/info.ini"));
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
    static std::string ReadFile(const std::filesystem::path& aPath)
    {
        std::ifstream in(aPath, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    struct Launch {
        std::string path;
        std::vector<std::string> args;
        std::vector<std::string> environment;
    };

    std::filesystem::path mRoot;
    LoopbackServer mServer{{}};
    TDownloadData mData;
    RecordingHost mHost;
    std::atomic<std::uint32_t> mClock{5000};
    TWorkerEnvironment mEnvironment;
    std::mutex mLaunchMutex;
    std::vector<Launch> mLaunches;
};
