#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "downloader_version.h"
#include "tests/support/sandbox.h"

namespace {

struct CommandCase {
    const char* name;
    const char* arguments;
    int exitCode;
    std::string output;  // a text the output must hold
};

const CommandCase kCommandCases[] = {
    {"unknown_option", "--frobnicate", 1, "unknown option --frobnicate"},
    {"dest_needs_silent", "--dest /tmp/x", 1, "--dest, --install and --resume go with --silent"},
    {"resume_needs_silent", "--resume", 1, "--dest, --install and --resume go with --silent"},
    {"dest_needs_a_folder", "--silent --dest", 1, "--dest needs a folder"},
    {"version", "--version", 0, "downloader " + std::string(kDownloaderVersion)},
    {"help", "--help", 0, "--silent"},
    {"no_display", "", 1, "--silent"},
    {"silent_without_info_address", "--silent --dest DEST", 2, "not connected"},
    {"double_dash_ends_the_options", "-- --help", 1, "cannot open a display"},
};

void PrintTo(const CommandCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

// Runs the program with a bare environment (no display, a private home) and
// returns its exit code; aOutput gets stdout and stderr.
int RunProgram(const std::filesystem::path& aRoot, const CommandCase& aCase, std::string& aOutput,
               const std::string& aEnvironment = "")
{
    std::string arguments = aCase.arguments;
    if (const auto dest = arguments.find("DEST"); dest != std::string::npos)
        arguments.replace(dest, 4, (aRoot / "dest").string());
    const std::string command =
        "env -i " + aEnvironment + " PATH=/usr/bin:/bin HOME='" + (aRoot / "home").string()
        + "' XDG_CONFIG_HOME='" + (aRoot / "config").string() + "' XDG_RUNTIME_DIR='"
        + (aRoot / "runtime").string() + "' '" + DOWNLOADER_BINARY + "' " + arguments + " 2>&1 </dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        aOutput.append(buffer, got);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

class CommandLine : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandLine, ExitsWithItsCodeAndSaysWhy)
{
    const auto root = EnterSandbox("command");
    std::string output;
    EXPECT_EQ(RunProgram(root, GetParam(), output), GetParam().exitCode) << output;
    EXPECT_NE(output.find(GetParam().output), std::string::npos) << output;
    std::filesystem::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandLine, ::testing::ValuesIn(kCommandCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// The window, like the silent mode, gives a newer wizard the command line it
// was started with and then "1": without a built-in address the release
// number is what tells the newer wizard which release to fetch.
TEST(WindowMode, NewerWizardGetsOurArgumentsAndOne)
{
    const auto root = EnterSandbox("window-newer");
    const auto marker = root / "arguments";
    std::filesystem::create_directories(root / "wiz");
    std::ofstream(root / "wiz" / "downloader-new")
        << "#!/bin/sh\necho \"$*\" > '" << marker.string() << "'\n";
    std::ofstream(root / "info.ini") << "[General]\nVersion=99.0\nDownloader=downloader-new\nPath="
                                     << (root / "wiz").string() << "\n";
    std::filesystem::create_directories(root / "config" / "Corvane");
    std::ofstream(root / "config" / "Corvane" / "user.reg")
        << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Corvane\\Downloader]\n"
        << "\"INIConfig\"=\"" << (root / "info.ini").string() << "\"\n";

    std::string output;
    EXPECT_EQ(RunProgram(root, {"window", "7 extra", 0, ""}, output, "QT_QPA_PLATFORM=offscreen"), 0)
        << output;
    std::string arguments;
    // The newer wizard runs on its own: wait at most 10 s for its mark.
    for (int turn = 0; turn < 1000 && arguments.empty(); ++turn) {
        std::ifstream in(marker);
        std::getline(in, arguments);
        if (arguments.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(arguments, "7 extra 1") << output;
    std::filesystem::remove_all(root);
}
