#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

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
    {"dest_needs_silent", "--dest /tmp/x", 1, "--dest and --install go with --silent"},
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
int RunProgram(const std::filesystem::path& aRoot, const CommandCase& aCase, std::string& aOutput)
{
    std::string arguments = aCase.arguments;
    if (const auto dest = arguments.find("DEST"); dest != std::string::npos)
        arguments.replace(dest, 4, (aRoot / "dest").string());
    const std::string command = "env -i PATH=/usr/bin:/bin HOME='" + (aRoot / "home").string()
                                + "' XDG_CONFIG_HOME='" + (aRoot / "config").string() + "' XDG_RUNTIME_DIR='"
                                + (aRoot / "runtime").string() + "' '" + DOWNLOADER_BINARY + "' " + arguments
                                + " 2>&1 </dev/null";
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
