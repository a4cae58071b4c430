#include "components/file_digests.h"

#include <cerrno>
#include <memory>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_handles.h"

TFileDigestTexts FileDigestTexts(const std::string& aFileName)
{
    const UniqueFd file(::open(aFileName.c_str(), O_RDONLY | O_CLOEXEC));
    const int fd = file.Get();
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "cannot open " + aFileName);
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode))
        throw std::system_error(EISDIR, std::generic_category(), "cannot open " + aFileName);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);  // only a hint

    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kHashReadBlockSize]);
    TFileDigests digests;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.get(), kHashReadBlockSize);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;  // a failed read ends the file here: the digests then mismatch
        digests.Update(buffer.get(), static_cast<std::size_t>(got));
    }
    return digests.Final();
}
