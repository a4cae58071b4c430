#pragma once
// Keys and signatures made by Debian's minisign tool, so that tests check our
// verifier against the vendor's own tool and never against our own code.
// Each key lives in a folder of its own under the test's temporary directory.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

inline bool MinisignToolPresent()
{
    return std::system("command -v minisign >/dev/null 2>&1") == 0;
}

class MinisignToolKey {
public:
    // A key pair without a password (minisign -G -W) in a new folder aName.
    explicit MinisignToolKey(const std::string& aName)
        : mDir(std::filesystem::path(::testing::TempDir())
               / ("minisign-" + aName + "-" + std::to_string(::getpid())))
    {
        std::filesystem::remove_all(mDir);
        std::filesystem::create_directories(mDir);
        Run("minisign -G -W -p '" + PublicFile().string() + "' -s '" + SecretFile().string() + "'");
    }
    ~MinisignToolKey() { std::filesystem::remove_all(mDir); }
    MinisignToolKey(const MinisignToolKey&) = delete;
    MinisignToolKey& operator=(const MinisignToolKey&) = delete;

    std::filesystem::path PublicFile() const { return mDir / "minisign.pub"; }
    std::filesystem::path SecretFile() const { return mDir / "minisign.key"; }
    std::string PublicText() const { return ReadText(PublicFile()); }
    // The second line of minisign.pub: what DOWNLOADER_PUBLIC_KEY holds.
    std::string KeyLine() const
    {
        std::istringstream in(PublicText());
        std::string line;
        std::getline(in, line);
        std::getline(in, line);
        return line;
    }

    // The tool's .minisig text for aMessage; aLegacy asks for the unhashed form (-l).
    std::string Sign(const std::string& aMessage, bool aLegacy = false,
                     const std::string& aTrustedComment = "timestamp:1 file:info.ini") const
    {
        const auto file = mDir / ("message" + std::to_string(++mCount));
        std::ofstream(file, std::ios::binary) << aMessage;
        Run("minisign -S " + std::string(aLegacy ? "-l " : "") + "-s '" + SecretFile().string() + "' -m '"
            + file.string() + "' -t '" + aTrustedComment + "'");
        return ReadText(file.string() + ".minisig");
    }

    static std::string ReadText(const std::filesystem::path& aPath)
    {
        std::ifstream in(aPath, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    static void Run(const std::string& aCommand)
    {
        if (std::system((aCommand + " >/dev/null 2>&1 </dev/null").c_str()) != 0)
            throw std::runtime_error("failed: " + aCommand);
    }

    std::filesystem::path mDir;
    mutable int mCount = 0;
};
