// downloader-publish itself, run on a real folder: the info file it writes,
// the releases it refuses, and its trial server on loopback.

#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/wait.h>

#include "tests/publish/sample_files.h"
#include "tests/publish/serve_run.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/shell_command.h"

namespace {

namespace fs = std::filesystem;

class PublishTool : public ::testing::Test {
protected:
    ScratchFolder mScratch;
    const fs::path mDir = mScratch.Path();
    const fs::path mRelease = mDir / "release";

    void SetUp() override
    {
        fs::create_directories(mRelease / "sub");
        WriteFileBytes(mRelease / "Setup.exe.rename", "abc");
        WriteFileBytes(mRelease / "Data1.cab", "");
        WriteFileBytes(mRelease / "Data2.cab", std::string(55, 'a'));
        WriteFileBytes(mRelease / "sub" / "inner.cab", "x");
        WriteFileBytes(mDir / "outside.txt", "secret");
        fs::create_symlink(mDir / "outside.txt", mRelease / "link.cab");
        WriteFileBytes(mRelease / ".DS_Store", "x");  // which the wizard would refuse
    }

    // Runs the tool with a shell; returns its exit status, output in aOutput.
    static int Run(const std::string& aArgs, std::string& aOutput)
    {
        return RunShellCommand(ShellQuoted(DOWNLOADER_PUBLISH_TOOL) + " " + aArgs + " 2>&1", aOutput);
    }
};

const std::string kToolInfo = "[General]\r\n"
                              "Setup=Setup.exe\r\n"
                              "\r\n"
                              "[Downloads]\r\n"
                              "Path=http://example.test/r\r\n"
                              "File1=Setup.exe.rename\r\n"
                              "File2=Data1.cab\r\n"
                              "File3=Data2.cab\r\n"
                              "\r\n"
                              + std::string(kSampleChecksumSections)
                              + "\r\n"
                                "[Size]\r\n"
                                "File1=3\r\n"
                                "File2=0\r\n"
                                "File3=55\r\n"
                                "\r\n"
                                "[Info]\r\n"
                                "Line1=Sample Suite\r\n"
                                "Total Files=3\r\n"
                                "Info Size=3 files, 58 bytes in all\r\n"
                                "Size=58\r\n";

TEST_F(PublishTool, WritesTheInfoFileAndRefusesBadReleases)
{
    std::string output;
    // The info file lands in the folder it describes and must not list itself;
    // the folder and the link that leads out of the folder are left out.
    const fs::path info = mRelease / "info.ini";
    ASSERT_EQ(Run("--base-url http://example.test/r/ --setup Setup.exe --rename Setup.exe --title 'Sample "
                  "Suite' -o "
                      + ShellQuoted(info.string()) + " " + ShellQuoted(mRelease.string()),
                  output),
              0)
        << output;
    EXPECT_EQ(ReadFileBytes(info), kToolInfo);
    EXPECT_NE(output.find("link.cab"), std::string::npos) << output;
    EXPECT_NE(output.find("not listed: .DS_Store (a hidden file)"), std::string::npos) << output;
    // The same to standard output, with the "--option=value" form.
    fs::remove(info);
    ASSERT_EQ(Run("--base-url=http://example.test/r --setup=Setup.exe --title='Sample Suite' "
                      + ShellQuoted(mRelease.string()),
                  output),
              0)
        << output;
    const std::string expected = kToolInfo;
    ASSERT_GE(output.size(), expected.size());
    EXPECT_EQ(output.substr(output.size() - expected.size()), expected);  // after the notes on stderr
    // --resume adds one key and changes nothing else.
    ASSERT_EQ(Run("--resume --base-url=http://example.test/r --setup=Setup.exe --title='Sample Suite' "
                      + ShellQuoted(mRelease.string()),
                  output),
              0)
        << output;
    std::string resumable = kToolInfo;
    resumable.insert(resumable.find("File1="), "Resume=1\r\n");
    ASSERT_GE(output.size(), resumable.size());
    EXPECT_EQ(output.substr(output.size() - resumable.size()), resumable);

    EXPECT_EQ(Run("--base-url http://h/r --rename Data3.cab " + ShellQuoted(mRelease.string()), output), 1);
    EXPECT_NE(output.find("Data3.cab.rename"), std::string::npos) << output;

    WriteFileBytes(mRelease / "a#b.cab", "x");
    EXPECT_EQ(Run("--base-url http://h/r " + ShellQuoted(mRelease.string()), output), 1);
    EXPECT_NE(output.find("a#b.cab"), std::string::npos) << output;

    EXPECT_EQ(Run("--no-such-option " + ShellQuoted(mRelease.string()), output), 2);
    EXPECT_EQ(Run("--help", output), 0);
    EXPECT_NE(output.find("usage: downloader-publish --base-url URL [options] RELEASE_DIR"),
              std::string::npos)
        << output;
}

// Serve runs until a signal: start it, fetch from it, stop it.
TEST_F(PublishTool, ServesTheFolderAndItsInfoFileOnLoopback)
{
    ServeRun serve({"--base-url-from-port", "--setup", "Setup.exe", mRelease.string()});
    const std::string& line = serve.FirstLine();
    const std::string prefix = ServeRun::kAddressStart;
    if (line.rfind(prefix, 0) != 0 || line.find("/info.ini\n") == std::string::npos)
        FAIL() << "first line: " << line;
    const int port = serve.Port();

    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5);
    client.set_read_timeout(5);
    const auto info = client.Get("/info.ini");
    const auto data = client.Get("/Data2.cab");
    const auto empty = client.Get("/Data1.cab");
    const auto inner = client.Get("/sub/inner.cab");
    const auto escaped = client.Get("/..%2Foutside.txt");
    const auto linked = client.Get("/link.cab");
    const int status = serve.Stop();

    ASSERT_TRUE(info && data && empty && inner && escaped && linked);
    EXPECT_EQ(info->status, 200);
    EXPECT_NE(info->body.find("Path=" + prefix + std::to_string(port) + "\r\n"), std::string::npos)
        << info->body;
    EXPECT_NE(info->body.find("File1=Setup.exe.rename\r\n"), std::string::npos) << info->body;
    EXPECT_EQ(data->status, 200);
    EXPECT_EQ(data->body, std::string(55, 'a'));
    EXPECT_EQ(data->get_header_value("Content-Length"), "55");
    EXPECT_EQ(empty->status, 200);
    EXPECT_EQ(empty->body, "");
    EXPECT_EQ(inner->status, 404);
    EXPECT_EQ(escaped->status, 404);
    EXPECT_EQ(linked->status, 404);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
