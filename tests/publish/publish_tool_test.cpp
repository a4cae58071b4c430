// downloader-publish itself, run on a real folder: the info file it writes,
// the releases it refuses, and its trial server on loopback.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/eventually.h"
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
    }

    // Runs the tool with a shell; returns its exit status, output in aOutput.
    static int Run(const std::string& aArgs, std::string& aOutput)
    {
        return RunShellCommand(ShellQuoted(DOWNLOADER_PUBLISH_TOOL) + " " + aArgs + " 2>&1", aOutput);
    }
};

const char* const kToolInfo = "[General]\r\n"
                              "Setup=Setup.exe\r\n"
                              "\r\n"
                              "[Downloads]\r\n"
                              "Path=http://example.test/r\r\n"
                              "File1=Setup.exe.rename\r\n"
                              "File2=Data1.cab\r\n"
                              "File3=Data2.cab\r\n"
                              "\r\n"
                              "[Checksum]\r\n"
                              "File1=A9993E364706816ABA3E25717850C26C9CD0D89D\r\n"
                              "File2=DA39A3EE5E6B4B0D3255BFEF95601890AFD80709\r\n"
                              "File3=C1C8BBDC22796E28C0E15163D20899B65621D65A\r\n"
                              "\r\n"
                              "[Checksum256]\r\n"
                              "File1=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\r\n"
                              "File2=e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\r\n"
                              "File3=9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318\r\n"
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
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(DOWNLOADER_PUBLISH_TOOL, DOWNLOADER_PUBLISH_TOOL, "serve", "--base-url-from-port", "--setup",
              "Setup.exe", mRelease.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    const auto stopChild = [&] {
        kill(child, SIGTERM);
        int status = -1;
        if (!Eventually([&] { return waitpid(child, &status, WNOHANG) != 0; })) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        close(out[0]);
        return status;
    };

    // The first line is the info file's address.
    std::string line;
    pollfd ready{out[0], POLLIN, 0};
    for (int i = 0; i < 100 && line.find('\n') == std::string::npos && poll(&ready, 1, 100) >= 0; ++i) {
        char c;
        if ((ready.revents & (POLLIN | POLLHUP)) && read(out[0], &c, 1) == 1)
            line += c;
    }
    const std::string prefix = "http://127.0.0.1:";
    if (line.rfind(prefix, 0) != 0 || line.find("/info.ini\n") == std::string::npos) {
        stopChild();
        FAIL() << "first line: " << line;
    }
    const int port = std::stoi(line.substr(prefix.size()));

    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5);
    client.set_read_timeout(5);
    const auto info = client.Get("/info.ini");
    const auto data = client.Get("/Data2.cab");
    const auto empty = client.Get("/Data1.cab");
    const auto inner = client.Get("/sub/inner.cab");
    const auto escaped = client.Get("/..%2Foutside.txt");
    const auto linked = client.Get("/link.cab");
    const int status = stopChild();

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
