#include "platform/posix_util.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
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

std::string ErrnoText(int aError)
{
    return std::error_code(aError, std::generic_category()).message();
}

void ReplaceFileAtomically(const std::filesystem::path& aTarget, std::string_view aText, unsigned aMode)
{
    const auto fail = [&](int aError) {
        throw std::system_error(aError, std::generic_category(), "cannot write " + aTarget.string());
    };
    // In the target's own folder, so that the rename stays on one file
    // system; a unique name, so that no file of the user's is overwritten.
    const std::filesystem::path folder = aTarget.has_parent_path() ? aTarget.parent_path() : ".";
    // Appended rather than "." + name: GCC 12 warns (-Wrestrict, falsely)
    // about the inlined copy of that sum.
    std::string hidden = ".";
    hidden += aTarget.filename().string();
    hidden += ".XXXXXX";
    std::string temporary = (folder / hidden).string();
    UniqueFd file{mkostemp(temporary.data(), O_CLOEXEC)};
    if (!file)
        fail(errno);
    // fsync before the rename: after a crash the name holds the old or the
    // new text, not an empty file.
    bool done = WriteAll(file.Get(), aText) && fchmod(file.Get(), static_cast<mode_t>(aMode)) == 0
                && fsync(file.Get()) == 0;
    int error = errno;
    if (!file.Close() && done) {
        done = false;
        error = errno;
    }
    if (done && rename(temporary.c_str(), aTarget.c_str()) != 0) {
        done = false;
        error = errno;
    }
    if (!done) {
        unlink(temporary.c_str());
        fail(error);
    }
    // The rename lasts through a power cut only once the folder is on disk.
    UniqueFd folderHandle{open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (folderHandle)
        fsync(folderHandle.Get());
}
