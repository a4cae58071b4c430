#pragma once
// A release signed with a key made by the real minisign tool, for the
// worker's and the silent mode's tests of signed releases. The worker gets
// the key through its environment, as a build with DOWNLOADER_PUBLIC_KEY
// gives it.

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "components/sha256.h"
#include "tests/support/engine_sandbox.h"
#include "tests/support/file_bytes.h"
#include "tests/support/minisign_tool.h"

inline std::string Sha256Text(const std::string& aBytes)
{
    Sha256Core core;
    core.Update(aBytes.data(), aBytes.size());
    return Sha256ToHex(core.Final());
}

inline std::string Upper(std::string aText)
{
    for (char& c : aText)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return aText;
}

inline const std::vector<ServedFile> kTwoFiles = {
    {"setup.sh", "#!/bin/sh\nexit 0\n"},
    {"data.cab", std::string(200000, 'd')},
};

inline const std::string kWizard = "#!/bin/sh\nexit 0\n";

class SignedRelease : public EngineSandbox {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(MinisignToolPresent()) << "these tests need Debian's minisign package";
        sVendor = std::make_unique<MinisignToolKey>("vendor");
        sStranger = std::make_unique<MinisignToolKey>("stranger");
    }
    static void TearDownTestSuite()
    {
        sVendor.reset();
        sStranger.reset();
    }
    void SetUp() override
    {
        EngineSandbox::SetUp();
        mEnvironment.publicKey = sVendor->KeyLine();
        mData.SetLine1("kept");
    }

    // The sandbox's release, naming the address it is served at as a signed
    // info file must (ServeInfo's, unless aAddress says otherwise).
    std::string ReleaseInfo(const std::vector<ServedFile>& aFiles, const std::string& aExtra = "",
                            const std::string& aAddress = "")
    {
        return WithInfoAddress(EngineSandbox::ReleaseInfo(aFiles, aExtra), aAddress);
    }
    // aInfo with [General] InfoAddress=aAddress (ServeInfo's when empty) as
    // its first key.
    std::string WithInfoAddress(std::string aInfo, const std::string& aAddress = "")
    {
        const std::string line =
            std::string("InfoAddress=") + (aAddress.empty() ? mServer.Url("/info.ini") : aAddress) + "\n";
        const auto general = aInfo.find("[General]\n");
        if (general == std::string::npos)
            return "[General]\n" + line + aInfo;
        return aInfo.insert(general + 10, line);
    }

    // [Checksum256] lines for aFiles, as the publishing tool writes them.
    static std::string Checksum256(const std::vector<ServedFile>& aFiles)
    {
        std::string section = "[Checksum256]\n";
        for (std::size_t i = 0; i < aFiles.size(); ++i)
            section += "File" + std::to_string(i + 1) + "=" + Sha256Text(aFiles[i].body) + "\n";
        return section;
    }

    // Serves aInfo with aSignature beside it (none when empty).
    void ServeSigned(const std::string& aInfo, const std::string& aSignature)
    {
        ServeInfo(aInfo);
        if (!aSignature.empty())
            mServer.SetRoute("/info.ini.minisig", {.body = aSignature});
    }

    // An info file offering the newer wizard with the given [General] line.
    // The file names aAddress as its InfoAddress (ServeInfo's when empty).
    std::string WizardInfo(const std::string& aDigestLine, const std::string& aAddress = "")
    {
        mServer.SetRoute("/wiz/downloader-new", {.body = kWizard});
        return WithInfoAddress("[General]\nVersion=3.02\nDownloader=downloader-new\nPath="
                                   + mServer.Url("/wiz") + "\n" + aDigestLine + "[Info]\nLine1=Title\n",
                               aAddress);
    }

    std::size_t ReleaseRequests() const
    {
        std::size_t count = 0;
        for (const auto& path : mServer.RequestedPaths())
            count += path.rfind("/rel/", 0) == 0 || path.rfind("/wiz/", 0) == 0;
        return count;
    }

    static inline std::unique_ptr<MinisignToolKey> sVendor, sStranger;
};
