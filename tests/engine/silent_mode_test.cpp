#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "engine/silent_mode.h"
#include "tests/engine/engine_test_support.h"

class SilentMode : public EngineSandbox {
protected:
    int RunSilentTo(const std::string& aDest, bool aCancel = false, bool aInstall = false)
    {
        TSilentOptions options;
        options.destination = aDest;
        options.install = aInstall;
        options.arguments = {"--silent", "--dest", aDest};
        const std::atomic<bool> cancel{aCancel};
        return RunSilent(options, mEnvironment, mLog, false, cancel);
    }
    std::ostringstream mLog;
};

TEST_F(SilentMode, ExitCodesTellHowTheRunEnded)
{
    const std::string good = "payload";
    mServer.SetRoute("/rel/a.bin", {.body = good});
    const std::string info = "[Downloads]\nPath=" + mServer.Url("/rel") + "\nFile1=a.bin\n[Checksum]\nFile1=";

    EXPECT_EQ(RunSilentTo(Dest().string()), 2) << "no info address";

    ServeInfo(info + Sha1Text(good) + "\n");
    EXPECT_EQ(RunSilentTo(Dest().string()), 0) << mLog.str();
    EXPECT_EQ(ReadFile(Dest() / "a.bin"), good);

    std::ofstream(mRoot / "plain-file") << "x";
    EXPECT_EQ(RunSilentTo((mRoot / "plain-file" / "sub").string()), 5) << "folder under a file";

    ServeInfo(info + std::string(40, '0') + "\n");
    EXPECT_EQ(RunSilentTo(Dest().string()), 3) << "bad checksum";
    EXPECT_NE(mLog.str().find("attempt 3 of a.bin failed: checksum mismatch for a.bin"), std::string::npos);

    EXPECT_EQ(RunSilentTo(Dest().string(), true), 4) << "cancelled";
}

TEST_F(SilentMode, NewerWizardRunsInsteadAndItsExitCodeIsOurs)
{
    const std::string marker = (mRoot / "child-env").string();
    mServer.SetRoute("/wiz/downloader", {.body = "#!/bin/sh\necho \"$DOWNLOADER_SELF_UPDATED $*\" > '" + marker
                                                 + "'\nexit 7\n"});
    ServeInfo("[General]\nVersion=3.02\nDownloader=downloader\nPath=" + mServer.Url("/wiz") + "\n");
    mEnvironment.shellOpen = nullptr;  // the real launcher: the served script runs
    EXPECT_EQ(RunSilentTo(Dest().string()), 7) << mLog.str();
    EXPECT_EQ(ReadFile(marker), "1 --silent --dest " + Dest().string() + " 1\n");
}

TEST_F(SilentMode, InstallSucceedsOnlyWhenSetupStarted)
{
    const std::string marker = (mRoot / "setup-ran").string();
    const std::string info = ReleaseInfo({{"setup.sh", "#!/bin/sh\ntouch '" + marker + "'\n"}});
    mEnvironment.shellOpen = nullptr;  // the real launcher: the downloaded script runs

    ServeInfo(info);
    EXPECT_EQ(RunSilentTo(Dest().string(), false, true), 0) << mLog.str();
    EXPECT_NE(mLog.str().find("started " + (Dest() / "setup.sh").string()), std::string::npos) << mLog.str();
    bool ran = false;
    for (int turn = 0; turn < 500 && !ran; ++turn) {    // it runs on its own: wait at most 5 s
        ran = std::filesystem::exists(marker);
        if (!ran)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(ran);

    // Placed files but no setup: a refused name never reaches the launcher.
    ServeInfo(std::string(info).replace(info.find("Setup=setup.sh"), 14, "Setup=../setup.sh"));
    mLog.str("");
    EXPECT_EQ(RunSilentTo(Dest().string(), false, true), 6) << mLog.str();
    EXPECT_NE(mLog.str().find("cannot start the setup program ../setup.sh"), std::string::npos) << mLog.str();
    EXPECT_EQ(mLog.str().find("started "), std::string::npos) << mLog.str();
}
