#include "platform/shell_open.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/file_handles.h"
#include "tests/platform/platform_test.h"
#include "tests/support/eventually.h"

namespace fs = std::filesystem;

namespace {

bool OwnerMayExecute(const fs::path& aPath)
{
    struct stat info {};
    return stat(aPath.c_str(), &info) == 0 && (info.st_mode & S_IXUSR) != 0;
}

// Whether child aPid is gone for good, reaped by whoever waits for it. WNOWAIT
// leaves an ended child for its real reaper to collect.
bool IsReaped(pid_t aPid)
{
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(aPid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 && errno == ECHILD;
}

class ShellOpenTest : public PlatformTest {
protected:
    fs::path WriteFile(const std::string& aName, const std::string& aText, mode_t aMode) const
    {
        const fs::path path = mRoot / aName;
        WriteFileBytes(path, aText);
        chmod(path.c_str(), aMode);
        return path;
    }
};

TEST_F(ShellOpenTest, RunsDownloadedScriptDirectlyAndWaits)
{
    const fs::path out = mRoot / "out.txt";
    // Blanks and quotes in the name: no shell ever sees it.
    const fs::path script =
        WriteFile("my 'setup\" file.sh",
                  "#!/bin/sh\nprintf '%s|%s|%s' \"$1\" \"$2\" \"$EXTRA\" > \"$OUT\"\nexit 7\n", 0644);
    const TShellOpenResult result =
        ShellOpen(script, {"1", "two words"},
                  {.wait = true, .environment = {"EXTRA=from parent", "OUT=" + out.string()}});
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 7);
    EXPECT_EQ(ReadFileBytes(out), "1|two words|from parent");
    EXPECT_TRUE(OwnerMayExecute(script));
}

TEST_F(ShellOpenTest, ProgramKilledBySignalReports128PlusSignal)
{
    const fs::path script = WriteFile("killed.sh", "#!/bin/sh\nkill -TERM $$\n", 0700);
    EXPECT_EQ(ShellOpen(script, {}, {.wait = true}).exitCode, 128 + SIGTERM);
}

struct StopCase {
    const char* name;
    std::string body;  // touches $READY once a stop may come
    bool stop;         // the flag is set once the script is ready
    int exitCode;
};

void PrintTo(const StopCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const StopCase kStopCases[] = {
    {"flag_never_set", "touch \"$READY\"\nexit 5\n", false, 5},
    {"killed_by_the_stop", "touch \"$READY\"\nexec sleep 30\n", true, 128 + SIGTERM},
    // The script's own answer to SIGTERM is its exit code; it takes its
    // sleeping child along so nothing outlives the test.
    {"own_answer_to_the_stop",
     "sleep 30 &\nchild=$!\ntrap 'kill $child; exit 3' TERM\ntouch \"$READY\"\nwait $child\n", true, 3},
};

class ShellOpenStop : public ShellOpenTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(ShellOpenStop, WaitedProgramEndsSoonAfterTheFlagIsSet)
{
    const fs::path ready = mRoot / "ready";
    const fs::path script = WriteFile("stoppable.sh", "#!/bin/sh\n" + GetParam().body, 0700);
    std::atomic<bool> stop{false};
    std::chrono::steady_clock::time_point stopAt;
    std::jthread stopper([&] {
        // Set even when the script never gets ready, so the wait cannot hang.
        Eventually([&] { return fs::exists(ready); });
        stopAt = std::chrono::steady_clock::now();
        if (GetParam().stop)
            stop = true;
    });
    const TShellOpenResult result = ShellOpen(
        script, {}, {.wait = true, .environment = {"READY=" + ready.string()}, .stopRequested = &stop});
    const auto ended = std::chrono::steady_clock::now();
    stopper.join();
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, GetParam().exitCode);
    if (GetParam().stop) {
        EXPECT_LT(ended - stopAt, std::chrono::seconds(5));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ShellOpenStop, ::testing::ValuesIn(kStopCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST_F(ShellOpenTest, NotWaitedChildReadsNothingAndIsReaped)
{
    const fs::path out = mRoot / "stdin.txt";
    const fs::path script = WriteFile("detached.sh",
                                      "#!/bin/sh\nreadlink /proc/$$/fd/0 > \"$OUT.part\"\necho $$ >> "
                                      "\"$OUT.part\"\nmv \"$OUT.part\" \"$OUT\"\n",
                                      0600);
    const TShellOpenResult result = ShellOpen(script, {}, {.environment = {"OUT=" + out.string()}});
    EXPECT_TRUE(result.started);
    ASSERT_TRUE(Eventually([&] { return fs::exists(out); }));
    std::istringstream lines(ReadFileBytes(out));
    std::string input;
    pid_t child = 0;
    lines >> input >> child;
    EXPECT_EQ(input, "/dev/null");
    ASSERT_GT(child, 0);
    EXPECT_TRUE(Eventually([child] { return IsReaped(child); }));
}

struct OpenerCase {
    const char* name;
    bool isFile;         // a document written under the test folder
    std::string target;  // its name, or the address as it stands
    std::string content = "plain data\n";
    bool runPrograms = true;
};

void PrintTo(const OpenerCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const OpenerCase kOpenerCases[] = {
    {"document", true, "notes with blanks.txt"},
    {"executable_bit_but_no_program", true, "data.bin"},
    {"address", false, "https://www.example.com/product?x=1&y=2"},
    {"program_not_to_be_run", true, "link-target.sh", "#!/bin/sh\nexit 9\n", false},
};

class ShellOpenOpener : public ShellOpenTest, public ::testing::WithParamInterface<OpenerCase> {};

TEST_P(ShellOpenOpener, GoesToTheDesktopOpener)
{
    const fs::path record = mRoot / "opened.txt";
    const fs::path opener = WriteFile("fake-opener", "#!/bin/sh\nprintf '%s' \"$*\" > \"$RECORD\"\n", 0700);
    std::string target = GetParam().target;
    if (GetParam().isFile)
        target = WriteFile(target, GetParam().content, 0700).string();

    const TShellOpenResult result = ShellOpen(target, {"ignored"},
                                              {.wait = true,
                                               .environment = {"RECORD=" + record.string()},
                                               .opener = opener.string(),
                                               .runPrograms = GetParam().runPrograms});
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(ReadFileBytes(record), target);
}

INSTANTIATE_TEST_SUITE_P(Cases, ShellOpenOpener, ::testing::ValuesIn(kOpenerCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST_F(ShellOpenTest, MissingOpenerOrProgramIsNotStarted)
{
    const fs::path document = WriteFile("doc.txt", "text", 0644);
    EXPECT_FALSE(ShellOpen(document, {}, {.opener = (mRoot / "no-opener").string()}).started);
    const fs::path script = WriteFile("bad.sh", "#!/no/such/interpreter\n", 0755);
    EXPECT_FALSE(ShellOpen(script, {}, {.wait = true}).started);
    EXPECT_FALSE(OwnerMayExecute(document));
}

TEST_F(ShellOpenTest, RecognisesProgramsByTheirFirstBytes)
{
    EXPECT_TRUE(IsExecutableImage(WriteFile("elf",
                                            std::string("\x7F"
                                                        "ELF\x02\x01\x01",
                                                        7),
                                            0644)));
    EXPECT_TRUE(IsExecutableImage(WriteFile("script", "#!/bin/sh\n", 0644)));
    EXPECT_FALSE(IsExecutableImage(WriteFile("elf_cut",
                                             "\x7F"
                                             "EL",
                                             0755)));
    EXPECT_FALSE(IsExecutableImage(WriteFile("text", "hello", 0755)));
    EXPECT_FALSE(IsExecutableImage(WriteFile("empty", "", 0755)));
    EXPECT_FALSE(IsExecutableImage((mRoot / "missing").string()));
}

}  // namespace

// ---------------------------------------------------------------------------
// Started from a held descriptor

// The name is given a different program after the open, as another user of a
// shared folder could do: the held one runs, with its arguments. Its
// interpreter gets /dev/fd/N, so the descriptor must reach the child.
TEST_F(ShellOpenTest, HeldScriptRunsNotWhatTheNameLeadsToNow)
{
    const fs::path out = mRoot / "out.txt";
    const fs::path setup = WriteFile(
        "setup.sh", "#!/bin/sh\nprintf 'held|%s|%s|%s' \"$1\" \"$2\" \"$EXTRA\" > \"$OUT\"\nexit 7\n", 0600);
    UniqueFd held{open(setup.c_str(), O_RDONLY | O_CLOEXEC)};
    ASSERT_TRUE(held);
    const fs::path other = WriteFile("other.sh", "#!/bin/sh\nprintf 'swapped' > \"$OUT\"\nexit 0\n", 0755);
    ASSERT_EQ(rename(other.c_str(), setup.c_str()), 0);

    const TShellOpenResult result =
        ShellOpenDescriptor(held.Get(), setup, {"1", "two words"},
                            {.wait = true, .environment = {"EXTRA=from parent", "OUT=" + out.string()}});
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 7);
    EXPECT_EQ(ReadFileBytes(out), "held|1|two words|from parent");
    struct stat info {};
    ASSERT_EQ(fstat(held.Get(), &info), 0);
    EXPECT_NE(info.st_mode & S_IXUSR, 0u);  // given through the descriptor
}

TEST_F(ShellOpenTest, HeldElfProgramRunsWithItsArguments)
{
    UniqueFd shell{open("/bin/sh", O_RDONLY | O_CLOEXEC)};
    ASSERT_TRUE(shell);
    const TShellOpenResult result =
        ShellOpenDescriptor(shell.Get(), "/bin/sh", {"-c", "exit 5"}, {.wait = true});
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 5);
}

TEST_F(ShellOpenTest, HeldDocumentGoesToTheOpenerByItsName)
{
    const fs::path record = mRoot / "opened.txt";
    const fs::path opener = WriteFile("fake-opener", "#!/bin/sh\nprintf '%s' \"$*\" > \"$RECORD\"\n", 0700);
    const fs::path document = WriteFile("manual.pdf", "%PDF-1.4\n", 0600);
    UniqueFd held{open(document.c_str(), O_RDONLY | O_CLOEXEC)};
    const TShellOpenResult result = ShellOpenDescriptor(
        held.Get(), document, {"ignored"},
        {.wait = true, .environment = {"RECORD=" + record.string()}, .opener = opener.string()});
    EXPECT_TRUE(result.started);
    EXPECT_EQ(ReadFileBytes(record), document.string());
    EXPECT_FALSE(OwnerMayExecute(document));
}

TEST_F(ShellOpenTest, HeldScriptWithoutItsInterpreterIsNotStarted)
{
    const fs::path script = WriteFile("bad.sh", "#!/no/such/interpreter\n", 0700);
    UniqueFd held{open(script.c_str(), O_RDONLY | O_CLOEXEC)};
    EXPECT_FALSE(ShellOpenDescriptor(held.Get(), script, {}, {.wait = true}).started);
    EXPECT_FALSE(ShellOpenDescriptor(held.Get(), script, {}, {}).started);
}
