#pragma once
// SHA-1 (FIPS 180-1) for checking downloaded files against the checksums the
// info file lists. Qt-free; no state is shared between instances.

#include <array>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

using TSHA1Digest = std::array<std::uint8_t, 20>;

// Files and streams are read in blocks of this size. Hashing a cached 1 GiB
// file, 256 KiB to 1 MiB ran equally fast and 64 or 128 KiB a few per cent
// slower; the smallest of the fast sizes keeps the buffer in the CPU cache.
inline constexpr std::size_t kHashReadBlockSize = 256 * 1024;

namespace sha1_detail {

// Compresses aBlocks whole 64-byte blocks at aData into the five chaining
// words. Several implementations exist; they must give identical results.
using TCompressFn = void (*)(std::uint32_t* aState, const std::uint8_t* aData, std::size_t aBlocks);

void CompressPortable(std::uint32_t* aState, const std::uint8_t* aData, std::size_t aBlocks);

// The Intel SHA extensions path; call it only when HasShaExtensions() is true.
// On other architectures it is the portable path.
void CompressShaNi(std::uint32_t* aState, const std::uint8_t* aData, std::size_t aBlocks);

bool HasShaExtensions();

// The fastest path this CPU supports, chosen once.
TCompressFn BestCompress();

}  // namespace sha1_detail

// Streaming core: any number of Update calls of any length, then one Final.
// One thread at a time.
class Sha1Core {
public:
    Sha1Core();
    // Tests pass a particular implementation to hold the paths against each other.
    explicit Sha1Core(sha1_detail::TCompressFn aCompress);
    ~Sha1Core();
    Sha1Core(const Sha1Core&) = delete;
    Sha1Core& operator=(const Sha1Core&) = delete;

    void Update(const void* aData, std::size_t aSize);
    // Returns the digest and wipes the state, so no message data stays in
    // memory; the core then starts a new, empty message.
    TSHA1Digest Final();

private:
    void Reset();
    void Wipe();

    sha1_detail::TCompressFn mCompress;
    std::uint32_t mState[5];
    std::uint64_t mLength;  // message bytes so far (bits = 8x, kept as 64 bits)
    std::size_t mFill;      // bytes waiting in mBlock
    alignas(16) std::uint8_t mBlock[64];
};

class THashBase {
public:
    virtual ~THashBase() = default;
    virtual void HashBuffer(const void* aBuf, std::size_t aBufSize) = 0;
    // Throws std::system_error("cannot open FILE: reason") when the file cannot be
    // opened; the digest keeps its previous value then.
    virtual void HashFile(const std::string& aFileName) = 0;
    // Hashes from the current position to the end.
    virtual void HashStream(std::istream& aStream) = 0;
    // The text's bytes.
    virtual void HashStringA(std::string_view aStr) = 0;
    // The code units as little-endian bytes, two per unit.
    virtual void HashStringW(std::u16string_view aStr) = 0;
    void HashString(std::string_view aStr) { HashStringA(aStr); }
};

// Every Hash call starts a fresh digest and replaces the previous one. A read
// that fails part-way through a file or stream ends hashing with the bytes read
// so far: the caller then sees a checksum mismatch rather than an error.
// One thread at a time; in this program the worker uses one instance per check.
class TSHA1Hasher : public THashBase {
public:
    void HashBuffer(const void* aBuf, std::size_t aBufSize) override;
    void HashFile(const std::string& aFileName) override;
    // Hashes what aFd reads from its current position to the end; a folder is
    // refused with std::system_error(EISDIR). The descriptor stays open.
    void HashDescriptor(int aFd, const std::string& aName);
    void HashStream(std::istream& aStream) override;
    void HashStringA(std::string_view aStr) override;
    void HashStringW(std::u16string_view aStr) override;

    // All zero before the first hash.
    void GetDigest(TSHA1Digest& aDigest) const;

private:
    TSHA1Digest mDigest{};
};

// 40 upper-case hexadecimal digits, two per byte in order.
std::string DigestToHex(const TSHA1Digest& aDigest);

// DigestToHex of the SHA-1 of aBytes.
std::string Sha1Hex(std::string_view aBytes);

// DigestToHex of the file's SHA-1; throws as HashFile does.
std::string FileSha1Hex(const std::string& aFileName);
// The same for an open file; aName names it in an error.
std::string DescriptorSha1Hex(int aFd, const std::string& aName);
