#include "components/file_blocks.h"
#include "components/sha1.h"
#include "platform/file_handles.h"

#include <cerrno>
#include <memory>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void ReadFileBlocks(const std::string& aFileName,
                    const std::function<void(const std::uint8_t* aData, std::size_t aSize)>& aSink)
{
    const UniqueFd file(::open(aFileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0)
        throw std::system_error(errno, std::generic_category(), "cannot open " + aFileName);
    ReadDescriptorBlocks(file.Get(), aFileName, aSink);
}

void ReadDescriptorBlocks(int aFd, const std::string& aName,
                          const std::function<void(const std::uint8_t* aData, std::size_t aSize)>& aSink)
{
    // A folder opens fine on POSIX but has no content to hash; refuse it as an
    // open failure, so a wrong path fails loudly instead of hashing as empty.
    struct stat info {};
    if (::fstat(aFd, &info) == 0 && S_ISDIR(info.st_mode))
        throw std::system_error(EISDIR, std::generic_category(), "cannot open " + aName);
    ::posix_fadvise(aFd, 0, 0, POSIX_FADV_SEQUENTIAL);  // only a hint: its failure is harmless

    // Not value-initialised: the buffer is written by read() before it is used.
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kHashReadBlockSize]);
    for (;;) {
        const ssize_t got = ::read(aFd, buffer.get(), kHashReadBlockSize);
        if (got < 0 && errno == EINTR)
            continue;  // a signal is no read failure
        if (got <= 0)
            break;  // end of file, or a failed read: keep the bytes so far
        aSink(buffer.get(), static_cast<std::size_t>(got));
    }
}
