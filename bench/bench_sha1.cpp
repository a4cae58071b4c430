// Hashes one file with our HashFile and with OpenSSL's SHA-1, in alternating
// rounds so that both see the same cache and clock conditions, and compares
// the speeds. Usage: bench-sha1 FILE [ROUNDS]
// The last line of output is: sha1 ratio R (ours X MB/s, openssl Y MB/s)

#include "bench/bench_main.h"
#include "components/sha1.h"
#include "platform/file_handles.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct EvpContextDeleter {
    void operator()(EVP_MD_CTX* aContext) const noexcept { EVP_MD_CTX_free(aContext); }
};

// Reads the file the same way HashFile does (same block size and hint), so
// that only the hashing differs.
TSHA1Digest OpenSslHashFile(const std::string& aFileName)
{
    const UniqueFd file(::open(aFileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0)
        throw std::system_error(errno, std::generic_category(), "cannot open " + aFileName);
    ::posix_fadvise(file.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    const std::unique_ptr<EVP_MD_CTX, EvpContextDeleter> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha1(), nullptr) != 1)
        throw std::runtime_error("cannot start OpenSSL SHA-1");
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kHashReadBlockSize]);
    for (;;) {
        const ssize_t got = ::read(file.Get(), buffer.get(), kHashReadBlockSize);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw std::system_error(errno, std::generic_category(), "cannot read " + aFileName);
        if (got == 0)
            break;
        if (EVP_DigestUpdate(context.get(), buffer.get(), static_cast<std::size_t>(got)) != 1)
            throw std::runtime_error("cannot hash with OpenSSL");
    }
    TSHA1Digest digest{};
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1 || size != digest.size())
        throw std::runtime_error("cannot finish OpenSSL SHA-1");
    return digest;
}

TSHA1Digest OursHashFile(const std::string& aFileName)
{
    TSHA1Hasher hasher;
    hasher.HashFile(aFileName);
    TSHA1Digest digest;
    hasher.GetDigest(digest);
    return digest;
}

template <typename Hash> double TimeSeconds(Hash aHash, const std::string& aFileName, TSHA1Digest& aDigest)
{
    const auto start = Clock::now();
    aDigest = aHash(aFileName);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int Run(const std::string& aFileName, int aRounds)
{
    struct stat info {};
    if (::stat(aFileName.c_str(), &info) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot open " + aFileName);
    const double megabytes = static_cast<double>(info.st_size) / 1e6;

    std::printf("file %s, %.1f MB, read block %zu KiB, SHA extensions %s, %d rounds\n", aFileName.c_str(),
                megabytes, kHashReadBlockSize / 1024, sha1_detail::HasShaExtensions() ? "used" : "absent",
                aRounds);

    // One untimed pass each brings the file into the page cache for both.
    TSHA1Digest ours{}, openssl{};
    OursHashFile(aFileName);
    OpenSslHashFile(aFileName);

    std::vector<double> oursSeconds, opensslSeconds;
    for (int round = 0; round < aRounds; ++round) {
        // Alternate which one goes first, so neither always inherits the other's caches.
        if (round % 2 == 0) {
            oursSeconds.push_back(TimeSeconds(OursHashFile, aFileName, ours));
            opensslSeconds.push_back(TimeSeconds(OpenSslHashFile, aFileName, openssl));
        } else {
            opensslSeconds.push_back(TimeSeconds(OpenSslHashFile, aFileName, openssl));
            oursSeconds.push_back(TimeSeconds(OursHashFile, aFileName, ours));
        }
        std::printf("round %d: ours %.0f MB/s, openssl %.0f MB/s\n", round + 1,
                    megabytes / oursSeconds.back(), megabytes / opensslSeconds.back());
        if (ours != openssl) {
            std::fprintf(stderr, "digest mismatch: ours %s, openssl %s\n", DigestToHex(ours).c_str(),
                         DigestToHex(openssl).c_str());
            return 1;
        }
    }
    std::printf("digest %s\n", DigestToHex(ours).c_str());

    const double oursRate = megabytes / Median(oursSeconds);
    const double opensslRate = megabytes / Median(opensslSeconds);
    std::printf("sha1 ratio %.3f (ours %.0f MB/s, openssl %.0f MB/s)\n", oursRate / opensslRate, oursRate,
                opensslRate);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    return RunDigestBenchmark(argc, argv, "bench-sha1", Run);
}
