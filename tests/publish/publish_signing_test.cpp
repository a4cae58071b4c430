// The publishing tool's part in signed releases: the wizard's SHA-256, the
// signature by the vendor's own minisign, and the trial server serving it.
// Only in a build that has the tool.

#ifdef DOWNLOADER_PUBLISH_TOOL

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "components/minisign_verify.h"
#include "engine/ini_reader.h"
#include "engine/release_signature.h"
#include "tests/publish/serve_run.h"
#include "tests/support/minisign_tool.h"
#include "tests/support/shell_command.h"

namespace {

namespace fs = std::filesystem;

// From sha256sum, never from our own code.
constexpr const char* kSha256Abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr const char* kSha256Hello =
    "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03";  // "hello\n"

// Runs a shell command line; its exit status, stdout and stderr in aOutput.
int RunCommand(const std::string& aCommand, std::string& aOutput)
{
    return RunShellCommand(aCommand + " 2>&1", aOutput);
}

class PublishSigning : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(MinisignToolPresent()) << "these tests need Debian's minisign package";
        sKey = std::make_unique<MinisignToolKey>("publish");
    }
    static void TearDownTestSuite() { sKey.reset(); }

    void SetUp() override
    {
        fs::remove_all(mDir);
        fs::create_directories(mRelease);
        std::ofstream(mRelease / "Setup.exe", std::ios::binary) << "abc";
        std::ofstream(mDir / "downloader-3.02", std::ios::binary) << "hello\n";
    }
    void TearDown() override { fs::remove_all(mDir); }

    std::string Tool(const std::string& aArgs) const
    {
        return ShellQuoted(DOWNLOADER_PUBLISH_TOOL) + " " + aArgs;
    }
    static TSignatureCheck Check(const std::string& aSignature, const std::string& aInfo,
                                 std::string* aTrustedComment = nullptr)
    {
        const auto key = ParseMinisignPublicKey(sKey->KeyLine());
        return key ? VerifyMinisign(*key, aSignature, aInfo, aTrustedComment) : TSignatureCheck::kMalformed;
    }
    static std::uint64_t Now()
    {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                              std::chrono::system_clock::now().time_since_epoch())
                                              .count());
    }

    fs::path mDir =
        fs::path(::testing::TempDir())
        / ("publish_signing_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::path mRelease = mDir / "release";
    static inline std::unique_ptr<MinisignToolKey> sKey;
};

TEST_F(PublishSigning, SignsTheInfoFileWithTheWizardsDigestBesideIt)
{
    const fs::path info = mRelease / "info.ini";
    const std::string args =
        "--base-url http://example.test/r --setup Setup.exe --wizard-version 3.02"
        " --wizard-name downloader-3.02 --wizard-url http://example.test/w --wizard-file "
        + ShellQuoted((mDir / "downloader-3.02").string()) + " --sign "
        + ShellQuoted(sKey->SecretFile().string()) + " -o " + ShellQuoted(info.string()) + " "
        + ShellQuoted(mRelease.string());
    std::string output;
    const std::uint64_t before = Now();
    ASSERT_EQ(RunCommand(Tool(args), output), 0) << output;
    const std::uint64_t after = Now();
    const std::string text = MinisignToolKey::ReadText(info);
    const std::string signature = MinisignToolKey::ReadText(info.string() + ".minisig");

    const TIniReader reader = TIniReader::FromBytes(text);
    EXPECT_EQ(reader.ReadString("General", "DownloaderSHA256", ""), kSha256Hello);
    EXPECT_EQ(reader.ReadString("Size", "Downloader", ""),
              std::to_string(fs::file_size(mDir / "downloader-3.02")));
    EXPECT_EQ(reader.ReadString("Checksum256", "File1", ""), kSha256Abc);
    // Where it is published: the release folder, under the -o file's name.
    EXPECT_EQ(reader.ReadString("General", "InfoAddress", ""), "http://example.test/r/info.ini");
    EXPECT_FALSE(reader.ValueExists("General", "Release"));
    std::string comment;
    EXPECT_EQ(Check(signature, text, &comment), TSignatureCheck::kValid);
    const auto signedAt = TrustedCommentTimestamp(comment);
    ASSERT_TRUE(signedAt) << comment;
    EXPECT_GE(*signedAt, before);
    EXPECT_LE(*signedAt, after);
    // And the vendor's tool agrees, and shows the signing time.
    EXPECT_EQ(RunCommand("minisign -V -p " + ShellQuoted(sKey->PublicFile().string()) + " -m "
                             + ShellQuoted(info.string()),
                         output),
              0)
        << output;
    EXPECT_NE(output.find("Trusted comment: timestamp:" + std::to_string(*signedAt) + "\tfile:info.ini"),
              std::string::npos)
        << output;

    // Run again over the same folder: neither the info file nor its old
    // signature is listed as a release file.
    ASSERT_EQ(RunCommand(Tool(args), output), 0) << output;
    const TIniReader again(info.string());
    EXPECT_EQ(again.ReadString("Downloads", "File1", ""), "Setup.exe");
    EXPECT_FALSE(again.ValueExists("Downloads", "File2"));
}

TEST_F(PublishSigning, InfoAddressAndReleaseAreWrittenAsGiven)
{
    const fs::path info = mDir / "suite.ini";
    const std::string common = " --base-url http://example.test/r/ -o " + ShellQuoted(info.string()) + " ";
    std::string output;
    ASSERT_EQ(RunCommand(Tool("--sign " + ShellQuoted(sKey->SecretFile().string()) + common
                              + ShellQuoted(mRelease.string())),
                         output),
              0)
        << output;
    EXPECT_EQ(TIniReader(info.string()).ReadString("General", "InfoAddress", ""),
              "http://example.test/r/suite.ini");

    // A service hands out another address: given as it is, with the number.
    ASSERT_EQ(RunCommand(Tool("--sign " + ShellQuoted(sKey->SecretFile().string())
                              + " --info-address 'https://example.test/get.asp?INFOFILE=27' --release 27"
                              + common + ShellQuoted(mRelease.string())),
                         output),
              0)
        << output;
    const TIniReader given(info.string());
    EXPECT_EQ(given.ReadString("General", "InfoAddress", ""), "https://example.test/get.asp?INFOFILE=27");
    EXPECT_EQ(given.ReadString("General", "Release", ""), "27");
    EXPECT_EQ(Check(MinisignToolKey::ReadText(info.string() + ".minisig"), MinisignToolKey::ReadText(info)),
              TSignatureCheck::kValid);

    // Unsigned, nothing new is written unless asked for.
    ASSERT_EQ(RunCommand(Tool(common + ShellQuoted(mRelease.string())), output), 0) << output;
    const TIniReader plain(info.string());
    EXPECT_FALSE(plain.ValueExists("General", "InfoAddress"));
    EXPECT_FALSE(plain.ValueExists("General", "Release"));

    EXPECT_EQ(RunCommand(Tool("--info-address \"$(printf 'http://x/\\nz')\" " + common
                              + ShellQuoted(mRelease.string())),
                         output),
              1);
    EXPECT_NE(output.find("cannot write the info file's address: the text holds a line break"),
              std::string::npos)
        << output;
}

TEST_F(PublishSigning, SigningProblemsSayWhatToDo)
{
    std::string output;
    const std::string release = " --base-url http://example.test/r " + ShellQuoted(mRelease.string());
    EXPECT_EQ(RunCommand(Tool("--sign " + ShellQuoted(sKey->SecretFile().string()) + release), output), 2);
    EXPECT_NE(output.find("--sign needs -o FILE"), std::string::npos) << output;

    const std::string info = (mDir / "info.ini").string();
    EXPECT_EQ(RunCommand(Tool("--sign " + ShellQuoted((mDir / "no.key").string()) + " -o " + ShellQuoted(info)
                              + release),
                         output),
              1);
    EXPECT_NE(output.find("no such key file"), std::string::npos) << output;

    // No minisign on the PATH: the info file is written and the message says
    // how to sign it by hand.
    EXPECT_EQ(RunCommand("env PATH=" + ShellQuoted((mDir / "empty").string()) + " "
                             + Tool("--sign " + ShellQuoted(sKey->SecretFile().string()) + " -o "
                                    + ShellQuoted(info) + release),
                         output),
              1);
    EXPECT_NE(output.find("minisign -S -s " + sKey->SecretFile().string() + " -m " + info), std::string::npos)
        << output;
    EXPECT_TRUE(fs::exists(info));
    EXPECT_FALSE(fs::exists(info + ".minisig"));

    EXPECT_EQ(RunCommand(Tool("--wizard-file " + ShellQuoted((mDir / "missing").string()) + release), output),
              1);
}

// Starts "serve" with aArgs, fetches /info.ini and its signature, stops it.
struct Served {
    int infoStatus = 0, signatureStatus = 0;
    std::string info, signature;
};

Served ServeAndFetch(const std::vector<std::string>& aArgs)
{
    Served served;
    ServeRun serve(aArgs);
    if (const int port = serve.Port()) {
        httplib::Client client("127.0.0.1", port);
        client.set_connection_timeout(5);
        client.set_read_timeout(5);
        if (const auto info = client.Get("/info.ini")) {
            served.infoStatus = info->status;
            served.info = info->body;
        }
        if (const auto signature = client.Get("/info.ini.minisig")) {
            served.signatureStatus = signature->status;
            served.signature = signature->body;
        }
    }
    return served;
}

TEST_F(PublishSigning, ServeSignsWhatItServes)
{
    const Served signedRun =
        ServeAndFetch({"--base-url-from-port", "--sign", sKey->SecretFile().string(), mRelease.string()});
    EXPECT_EQ(signedRun.infoStatus, 200);
    EXPECT_EQ(signedRun.signatureStatus, 200);
    std::string comment;
    EXPECT_EQ(Check(signedRun.signature, signedRun.info, &comment), TSignatureCheck::kValid)
        << signedRun.signature;
    EXPECT_TRUE(TrustedCommentTimestamp(comment)) << comment;
    const TIniReader served = TIniReader::FromBytes(signedRun.info);
    EXPECT_EQ(served.ReadString("General", "InfoAddress", "").rfind("http://127.0.0.1:", 0), 0u)
        << signedRun.info;
    EXPECT_EQ(served.ReadString("General", "InfoAddress", ""),
              served.ReadString("Downloads", "Path", "") + "/info.ini");

    const Served plain = ServeAndFetch({"--base-url-from-port", mRelease.string()});
    EXPECT_EQ(plain.infoStatus, 200);
    EXPECT_EQ(plain.signatureStatus, 404);
}

}  // namespace

#endif
