#include "tests/support/scratch_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Suite and test name, in characters any file system takes.
std::string TestName()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "scratch";
    for (char& c : name)
        if (c == '/')
            c = '_';
    return name.substr(0, 120);
}

}  // namespace

ScratchFolder::ScratchFolder()
{
    std::string pattern = (fs::path(::testing::TempDir()) / (TestName() + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "cannot make a scratch folder " + pattern);
    mPath = pattern;
}

ScratchFolder::~ScratchFolder()
{
    // Tests take rights away from folders; give them back so that the
    // scratch tree can go.
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(mPath, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            chmod(it->path().c_str(), 0700);
    chmod(mPath.c_str(), 0700);
    fs::remove_all(mPath, ignored);
}

ScratchHome::ScratchHome()
{
    for (const fs::path& folder : {Home(), Config(), Runtime()})
        fs::create_directories(folder);
    fs::permissions(Runtime(), fs::perms::owner_all);
    setenv("HOME", Home().c_str(), 1);
    setenv("XDG_CONFIG_HOME", Config().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", Runtime().c_str(), 1);
    for (const char* name : {"XDG_CACHE_HOME", "XDG_DATA_HOME", "DBUS_SESSION_BUS_ADDRESS"})
        unsetenv(name);
}
