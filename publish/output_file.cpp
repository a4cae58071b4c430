#include "publish/output_file.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <stdlib.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "platform/posix_util.h"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void ThrowWriteError(int aError, const std::string& aPath)
{
    throw std::system_error(aError, std::generic_category(), "cannot write " + aPath);
}

// A FIFO or a device cannot be replaced by renaming over it (that would put
// a plain file in its place), so it gets the text as it is.
void WriteInPlace(const std::string& aTarget, std::string_view aText, const std::string& aShownPath)
{
    const int file = ::open(aTarget.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (file < 0)
        ThrowWriteError(errno, aShownPath);
    const bool written = WriteAll(file, aText);
    const int writeError = errno;
    const bool closed = ::close(file) == 0;
    if (!written)
        ThrowWriteError(writeError, aShownPath);
    if (!closed)
        ThrowWriteError(errno, aShownPath);
}

void ReplaceRegularFile(const std::string& aTarget, std::string_view aText, mode_t aMode,
                        const std::string& aShownPath)
{
    try {
        ReplaceFileAtomically(aTarget, aText, aMode);
    } catch (const std::system_error& error) {
        ThrowWriteError(error.code().value(), aShownPath);
    }
}

mode_t CurrentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

}  // namespace

std::string ResolveOutputPath(const std::string& aPath)
{
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(aPath, error)))
        return aPath;
    // A link that cannot be resolved to a path stays as given: one to a
    // pipe (/dev/stdout in a pipeline) is still followed when it is opened;
    // one that leads nowhere is replaced by the new file.
    const fs::path resolved = fs::canonical(aPath, error);
    return error ? aPath : resolved.string();
}

void WriteOutputFile(const std::string& aPath, std::string_view aText)
{
    const std::string target = ResolveOutputPath(aPath);
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode))
            WriteInPlace(target, aText, aPath);
        else
            ReplaceRegularFile(target, aText, old.st_mode & 07777, aPath);
        return;
    }
    if (errno != ENOENT)
        ThrowWriteError(errno, aPath);
    ReplaceRegularFile(target, aText, 0644 & ~CurrentUmask(), aPath);
}
