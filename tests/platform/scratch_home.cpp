#include "scratch_home.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace fs = std::filesystem;

void ScratchHome::SetUp()
{
    std::string pattern = ::testing::TempDir() + "platform-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    mRoot = pattern;
    mHome = mRoot / "home";
    mConfig = mRoot / "config";
    fs::create_directories(mHome);
    setenv("HOME", mHome.c_str(), 1);
    setenv("XDG_CONFIG_HOME", mConfig.c_str(), 1);
    for (const char* name :
         {"XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"})
        unsetenv(name);
}

void ScratchHome::TearDown()
{
    // Tests take rights away from folders; give them back so that the
    // scratch tree can go.
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(mRoot, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            chmod(it->path().c_str(), 0700);
    chmod(mRoot.c_str(), 0700);
    fs::remove_all(mRoot, ignored);
}

void ScratchHome::WriteHive(const std::string& aText) const
{
    fs::create_directories(HivePath().parent_path());
    WriteWholeFile(HivePath(), aText);
}

std::string ReadWholeFile(const fs::path& aPath)
{
    std::ifstream file(aPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const fs::path& aPath, const std::string& aBytes)
{
    std::ofstream file(aPath, std::ios::binary | std::ios::trunc);
    file << aBytes;
}
