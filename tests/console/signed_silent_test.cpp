// The silent mode's lines and exit codes for signed releases.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "console/silent_mode.h"
#include "tests/engine/signed_release_support.h"

class SignedSilent : public SignedRelease {
protected:
    int RunSilentTo(const std::string& aDest)
    {
        TSilentOptions options;
        options.destination = aDest;
        options.arguments = {"--silent", "--dest", aDest};
        mLog.str("");
        return RunSilent(options, mEnvironment, mLog, false, mCancel);
    }
    std::vector<std::string> LogLines() const
    {
        std::vector<std::string> lines;
        std::istringstream in(mLog.str());
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::ostringstream mLog;
    std::atomic<bool> mCancel{false};
};

TEST_F(SignedSilent, RefusedSignatureExitsTwoWithOneLine)
{
    const std::string info = ReleaseInfo(kTwoFiles);
    ServeSigned(info, sStranger->Sign(info));
    EXPECT_EQ(RunSilentTo(Dest().string()), 2);
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 2u) << mLog.str();
    EXPECT_EQ(lines[0], "connecting");
    EXPECT_EQ(lines[1].rfind("the info file's signature is missing or invalid (signed with another key", 0),
              0u)
        << lines[1];
    EXPECT_EQ(ReleaseRequests(), 0u);

    ServeSigned(info + "[Info]\nLine1=changed\n", sVendor->Sign(info));
    EXPECT_EQ(RunSilentTo(Dest().string()), 2);
    EXPECT_EQ(LogLines().back(),
              "the info file's signature is missing or invalid (signature does not match the file)");
}

TEST_F(SignedSilent, RefusedWizardIsReportedAndTheReleaseGoesOn)
{
    const std::string info = WizardInfo("DownloaderSHA256=" + std::string(64, 'a') + "\n")
                             + ReleaseInfo(kTwoFiles).substr(ReleaseInfo(kTwoFiles).find("[Downloads]"));
    ServeSigned(info, sVendor->Sign(info));
    EXPECT_EQ(RunSilentTo(Dest().string()), 0) << mLog.str();
    const auto lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "newer wizard downloader-new not started: it does not match its DownloaderSHA256"),
              1)
        << mLog.str();
    for (const auto& file : kTwoFiles)
        EXPECT_EQ(ReadFileBytes(Dest() / file.name), file.body) << file.name;
}

TEST_F(SignedSilent, ReplayedOrOlderInfoFileExitsTwoWithOneLine)
{
    const std::string elsewhere = ReleaseInfo(kTwoFiles, "", mServer.Url("/5.1/info.ini"));
    ServeSigned(elsewhere, sVendor->Sign(elsewhere, false, "timestamp:1700000000"));
    EXPECT_EQ(RunSilentTo(Dest().string()), 2);
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"connecting", "refusing the signed info file: it is published at "
                                                          + mServer.Url("/5.1/info.ini") + ", not at "
                                                          + mServer.Url("/info.ini")}));

    const std::string info = ReleaseInfo(kTwoFiles);
    ServeSigned(info, sVendor->Sign(info, false, "timestamp:1700000000"));
    ASSERT_EQ(RunSilentTo(Dest().string()), 0) << mLog.str();
    ServeSigned(info, sVendor->Sign(info, false, "timestamp:1000000000"));
    EXPECT_EQ(RunSilentTo(Dest().string()), 2);
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{
                  "connecting", "refusing the signed info file: signed 2001-09-09T01:46:40Z, older than the"
                                " one accepted before for this address (signed 2023-11-14T22:13:20Z)"}));
}
