#include "platform/posix_util.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

std::string EnvText(const char* aName)
{
    const char* value = std::getenv(aName);
    return value ? std::string(value) : std::string();
}

std::string HomeFolder()
{
    std::string home = EnvText("HOME");
    if (home.empty()) {
        std::vector<char> buffer(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found
            && found->pw_dir)
            home = found->pw_dir;
    }
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return home;
}

std::filesystem::path XdgBaseFolder(const char* aVariable, const char* aFallback)
{
    const std::filesystem::path value = EnvText(aVariable);
    if (value.is_absolute())
        return value;
    return std::filesystem::path(HomeFolder()) / aFallback;
}

void CreateFolders(const std::filesystem::path& aFolder, unsigned aMode)
{
    std::filesystem::path partial;
    for (const auto& part : aFolder.lexically_normal()) {
        partial /= part;
        if (part.empty() || part == "/")
            continue;
        struct stat info {};
        if (stat(partial.c_str(), &info) == 0)
            continue;
        if (mkdir(partial.c_str(), static_cast<mode_t>(aMode)) != 0 && errno != EEXIST)
            throw std::system_error(errno, std::generic_category(),
                                    "cannot create folder " + partial.string());
    }
    struct stat folder {};
    if (stat(aFolder.c_str(), &folder) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot create folder " + aFolder.string());
    if (!S_ISDIR(folder.st_mode))
        throw std::system_error(ENOTDIR, std::generic_category(), "cannot create folder " + aFolder.string());
}

bool WriteAll(int aFd, std::string_view aText)
{
    while (!aText.empty()) {
        const ssize_t count = write(aFd, aText.data(), aText.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        aText.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}
