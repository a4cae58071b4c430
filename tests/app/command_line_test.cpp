#include <gtest/gtest.h>

#include <string>

#include "console/silent_mode.h"
#include "downloader_version.h"
#include "tests/support/eventually.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/shell_command.h"
#include "tests/support/versions.h"

namespace {

struct CommandCase {
    const char* name;
    const char* arguments;
    int exitCode;
    std::string output;  // a text the output must hold
};

constexpr int kDone = static_cast<int>(TSilentExit::Done);
constexpr int kUsage = static_cast<int>(TSilentExit::Usage);
constexpr int kNoWindow = 1;  // the window's own failure to start

const CommandCase kCommandCases[] = {
    {"unknown_option", "--frobnicate", kUsage, "unknown option --frobnicate"},
    {"dest_needs_silent", "--dest /tmp/x", kUsage, "--dest, --install and --resume go with --silent"},
    {"resume_needs_silent", "--resume", kUsage, "--dest, --install and --resume go with --silent"},
    {"dest_needs_a_folder", "--silent --dest", kUsage, "--dest needs a folder"},
    {"version", "--version", kDone, "downloader " + std::string(kDownloaderVersion)},
    {"help", "--help", kDone, "--silent"},
    {"no_display", "", kNoWindow, "--silent"},
    {"silent_without_info_address", "--silent --dest DEST", static_cast<int>(TSilentExit::NotConnected),
     "not connected"},
    {"double_dash_ends_the_options", "-- --help", kNoWindow, "cannot open a display"},
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
    return RunShellCommand(command, aOutput);
}

}  // namespace

class CommandLine : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandLine, ExitsWithItsCodeAndSaysWhy)
{
    const ScratchHome scratch;
    std::string output;
    EXPECT_EQ(RunProgram(scratch.Root(), GetParam(), output), GetParam().exitCode) << output;
    EXPECT_NE(output.find(GetParam().output), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandLine, ::testing::ValuesIn(kCommandCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

// The window, like the silent mode, gives a newer wizard the command line it
// was started with and then "1": without a built-in address the release
// number is what tells the newer wizard which release to fetch.
TEST(WindowMode, NewerWizardGetsOurArgumentsAndOne)
{
    const ScratchHome scratch;
    const auto& root = scratch.Root();
    const auto marker = root / "arguments";
    std::filesystem::create_directories(root / "wiz");
    WriteFileBytes(root / "wiz" / "downloader-new", "#!/bin/sh\necho \"$*\" > '" + marker.string() + "'\n");
    WriteFileBytes(root / "info.ini", "[General]\nVersion=" + NewerVersion()
                                          + "\nDownloader=downloader-new\nPath=" + (root / "wiz").string()
                                          + "\n");
    std::filesystem::create_directories(root / "config" / "Corvane");
    WriteFileBytes(
        root / "config" / "Corvane" / "user.reg",
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Corvane\\Downloader]\n"
        "\"INIConfig\"=\""
            + (root / "info.ini").string() + "\"\n");

    std::string output;
    EXPECT_EQ(RunProgram(root, {"window", "7 extra", 0, ""}, output, "QT_QPA_PLATFORM=offscreen"), 0)
        << output;
    // The newer wizard runs on its own: wait for its mark.
    std::string arguments;
    EXPECT_TRUE(Eventually([&] {
        arguments = ReadFileBytes(marker);
        return !arguments.empty();
    }));
    EXPECT_EQ(arguments, "7 extra 1\n") << output;
}
