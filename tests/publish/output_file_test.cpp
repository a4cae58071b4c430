// The -o writer: an atomic replacement that keeps links, modes and other
// files, writes pipes directly, and keeps the old file when a write fails.

#include "publish/output_file.h"

#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

class OutputFile : public ::testing::Test {
protected:
    ScratchFolder mScratch;
    const fs::path mDir = mScratch.Path();

    std::set<std::string> Entries() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(mDir))
            names.insert(entry.path().filename().string());
        return names;
    }
};

fs::perms PermsOf(const fs::path& aPath)
{
    return fs::status(aPath).permissions() & fs::perms::mask;
}

fs::perms NewFilePerms()
{
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<fs::perms>(0644 & ~mask);
}

struct OutputCase {
    const char* name;
    void (*prepare)(const fs::path& aDir);  // aDir / "out.ini" is written
    std::set<std::string> entries;          // the folder afterwards: no temporary left
    void (*check)(const fs::path& aDir);    // the new text is "new"
};

void PrintTo(const OutputCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

const OutputCase kOutputCases[] = {
    {"new_file",
     [](const fs::path&) {},
     {"out.ini"},
     [](const fs::path& aDir) {
         EXPECT_EQ(ReadFileBytes(aDir / "out.ini"), "new");
         EXPECT_EQ(PermsOf(aDir / "out.ini"), NewFilePerms());
     }},
    {"symlink_target_updated",
     [](const fs::path& aDir) {
         fs::create_directory(aDir / "real");
         WriteFileBytes(aDir / "real" / "info.ini", "old");
         fs::create_symlink("real/info.ini", aDir / "out.ini");
     },
     {"out.ini", "real"},
     [](const fs::path& aDir) {
         EXPECT_TRUE(fs::is_symlink(aDir / "out.ini"));
         EXPECT_EQ(ReadFileBytes(aDir / "real" / "info.ini"), "new");
         EXPECT_EQ(std::distance(fs::directory_iterator(aDir / "real"), fs::directory_iterator()), 1);
     }},
    {"mode_kept",
     [](const fs::path& aDir) {
         WriteFileBytes(aDir / "out.ini", "old");
         fs::permissions(aDir / "out.ini", static_cast<fs::perms>(0604));
     },
     {"out.ini"},
     [](const fs::path& aDir) {
         EXPECT_EQ(ReadFileBytes(aDir / "out.ini"), "new");
         EXPECT_EQ(PermsOf(aDir / "out.ini"), static_cast<fs::perms>(0604));
     }},
    {"tmp_file_untouched",
     [](const fs::path& aDir) { WriteFileBytes(aDir / "out.ini.tmp", "mine"); },
     {"out.ini", "out.ini.tmp"},
     [](const fs::path& aDir) {
         EXPECT_EQ(ReadFileBytes(aDir / "out.ini"), "new");
         EXPECT_EQ(ReadFileBytes(aDir / "out.ini.tmp"), "mine");
     }},
};

class OutputTargets : public OutputFile, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(OutputTargets, GetTheNewTextAndKeepWhatIsThere)
{
    GetParam().prepare(mDir);
    WriteOutputFile((mDir / "out.ini").string(), "new");
    EXPECT_EQ(Entries(), GetParam().entries);
    GetParam().check(mDir);
}

INSTANTIATE_TEST_SUITE_P(Targets, OutputTargets, ::testing::ValuesIn(kOutputCases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST_F(OutputFile, AFifoIsWrittenDirectly)
{
    const fs::path fifo = mDir / "out.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Opened here, without waiting, so that the writer's open never blocks.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::string received;
    std::thread reading([&] {
        pollfd ready{reader, POLLIN, 0};
        for (int i = 0; i < 50 && poll(&ready, 1, 100) >= 0; ++i) {
            if (!(ready.revents & (POLLIN | POLLHUP)))
                continue;  // no writer yet
            char buffer[256];
            const ssize_t got = read(reader, buffer, sizeof buffer);
            if (got <= 0)
                break;
            received.append(buffer, static_cast<std::size_t>(got));
        }
    });
    EXPECT_NO_THROW(WriteOutputFile(fifo.string(), "through the pipe"));
    reading.join();
    close(reader);
    EXPECT_EQ(received, "through the pipe");
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(Entries(), std::set<std::string>{"out.fifo"});
}

TEST_F(OutputFile, FailedWritesAreErrorsAndKeepTheOldFile)
{
    // A device behind a link: written in place, and its error reported.
    fs::create_symlink("/dev/full", mDir / "full");
    EXPECT_THROW(WriteOutputFile((mDir / "full").string(), "x"), std::system_error);
    EXPECT_TRUE(fs::is_symlink(mDir / "full"));

    // A regular file: a write cut short by the file size limit (which holds
    // for root too) leaves the old text and no temporary.
    WriteFileBytes(mDir / "out.ini", "old");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        WriteOutputFile((mDir / "out.ini").string(), std::string(4096, 'n'));
    } catch (const std::system_error&) {
        threw = true;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(ReadFileBytes(mDir / "out.ini"), "old");
    EXPECT_EQ(Entries(), (std::set<std::string>{"full", "out.ini"}));
}

}  // namespace
