#pragma once
// SHA-256 (FIPS 180-4) for the [Checksum256] section and the newer wizard's
// DownloaderSHA256. The compression comes from OpenSSL; only the streaming
// frame and the text form are ours. Qt-free; one thread per instance.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

using TSHA256Digest = std::array<std::uint8_t, 32>;

// Any number of Update calls of any length, then Final, which returns the
// digest and starts a new, empty message. Throws std::runtime_error when
// OpenSSL cannot give a SHA-256 context (out of memory).
class Sha256Core {
public:
    Sha256Core();
    ~Sha256Core();
    Sha256Core(const Sha256Core&) = delete;
    Sha256Core& operator=(const Sha256Core&) = delete;

    void Update(const void* aData, std::size_t aSize);
    TSHA256Digest Final();

private:
    struct Context;
    std::unique_ptr<Context> mContext;
};

// 64 lower-case hexadecimal digits, as sha256sum writes them.
std::string Sha256ToHex(const TSHA256Digest& aDigest);

// True when aText is 64 hexadecimal digits, either case, nothing else.
bool IsSha256Text(std::string_view aText);

// True when aListed is a SHA-256 text (either case) of exactly aDigest.
bool Sha256Matches(std::string_view aListed, const TSHA256Digest& aDigest);
