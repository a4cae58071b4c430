#include "platform/hive_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_handles.h"
#include "platform/posix_util.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned kFolderMode = 0700;
constexpr unsigned kHiveFileMode = 0600;

// One notice per process: a broken file would otherwise be reported on every
// read, and the user needs to hear it only once to mend it.
void TellUnreadable(const fs::path& aHive, const std::string& aReason)
{
    static std::atomic<bool> told{false};
    if (told.exchange(true))
        return;
    const std::string notice =
        "downloader: cannot read settings file " + aHive.string() + ": " + aReason + "\n";
    std::fputs(notice.c_str(), stderr);
}

}  // namespace

std::optional<TRegistryHive> LoadHive(const fs::path& aHive)
{
    // Without O_NONBLOCK a FIFO put at the hive's name would hang the caller
    // (the window) in open() until some writer came along. On a regular file
    // the flag changes nothing, so it can stay.
    UniqueFd file{open(aHive.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (!file) {
        if (errno == ENOENT)
            return TRegistryHive{};
        TellUnreadable(aHive, ErrnoText(errno));
        return std::nullopt;
    }
    struct stat info {};
    if (fstat(file.Get(), &info) != 0) {
        TellUnreadable(aHive, ErrnoText(errno));
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        TellUnreadable(aHive, "not a regular file");
        return std::nullopt;
    }
    const std::string tooLarge = "larger than " + std::to_string(kMaxHiveBytes) + " bytes";
    if (static_cast<std::uintmax_t>(info.st_size) > kMaxHiveBytes) {
        TellUnreadable(aHive, tooLarge);
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[16384];
    while (true) {
        const ssize_t count = read(file.Get(), buffer, sizeof buffer);
        if (count == 0)
            break;
        if (count < 0) {
            if (errno == EINTR)
                continue;
            TellUnreadable(aHive, ErrnoText(errno));
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<std::size_t>(count));
        // The file may grow while it is read.
        if (bytes.size() > kMaxHiveBytes) {
            TellUnreadable(aHive, tooLarge);
            return std::nullopt;
        }
    }
    try {
        return TRegistryHive::Parse(bytes);
    } catch (const HiveFormatError& error) {
        TellUnreadable(aHive, error.what());
        return std::nullopt;
    }
}

bool ChangeHive(const fs::path& aHive, const std::function<bool(TRegistryHive&)>& aChange)
{
    const fs::path folder = aHive.parent_path();
    try {
        CreateFolders(folder, kFolderMode);
    } catch (const std::system_error&) {
        return false;
    }
    UniqueFd lock{open((aHive.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)};
    if (!lock)
        return false;
    while (flock(lock.Get(), LOCK_EX) != 0)
        if (errno != EINTR)
            return false;
    // A hive kept elsewhere behind a symbolic link stays a link: the new text
    // replaces the file it leads to. The lock stays with the name every
    // process uses.
    fs::path target = aHive;
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(aHive, error))) {
        target = fs::canonical(aHive, error);
        if (error)
            return false;  // a dangling or looping link: leave it for the user to mend
    }
    // The lock file may be writable where the folder is not any more; and a
    // hive file the user made read-only is to stay as it is.
    if (faccessat(AT_FDCWD, target.parent_path().c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return false;
    if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT)
        return false;
    std::optional<TRegistryHive> hive = LoadHive(target);
    if (!hive)
        return false;
    if (!aChange(*hive))
        return true;
    const std::string text = hive->Format();
    // Names with line breaks have no form in the file. Checking the result
    // here, rather than every name on the way in, guarantees that no write
    // leaves a file that the next read rejects.
    try {
        TRegistryHive::Parse(text);
    } catch (const HiveFormatError&) {
        return false;
    }
    try {
        ReplaceFileAtomically(target, text, kHiveFileMode);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}
