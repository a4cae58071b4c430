#include "components/sha256.h"
#include "components/hex_text.h"

#include <openssl/evp.h>

#include <stdexcept>

struct Sha256Core::Context {
    struct Deleter {
        void operator()(EVP_MD_CTX* aContext) const noexcept { EVP_MD_CTX_free(aContext); }
    };
    std::unique_ptr<EVP_MD_CTX, Deleter> md{EVP_MD_CTX_new()};
};

namespace {

void Start(EVP_MD_CTX* aContext)
{
    if (!aContext || EVP_DigestInit_ex(aContext, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("cannot start a SHA-256 digest");
}


}  // namespace

Sha256Core::Sha256Core() : mContext(std::make_unique<Context>())
{
    Start(mContext->md.get());
}

Sha256Core::~Sha256Core() = default;

void Sha256Core::Update(const void* aData, std::size_t aSize)
{
    // With a context that started, OpenSSL's update only fails for a provider
    // fault; a digest that then mismatches is the right outcome.
    if (aSize != 0)
        EVP_DigestUpdate(mContext->md.get(), aData, aSize);
}

TSHA256Digest Sha256Core::Final()
{
    TSHA256Digest digest{};
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(mContext->md.get(), digest.data(), &size) != 1 || size != digest.size())
        throw std::runtime_error("cannot finish a SHA-256 digest");
    Start(mContext->md.get());
    return digest;
}

std::string Sha256ToHex(const TSHA256Digest& aDigest)
{
    return HexText(aDigest.data(), aDigest.size(), THexCase::Lower);
}

bool IsSha256Text(std::string_view aText)
{
    if (aText.size() != 64)
        return false;
    for (const char digit : aText)
        if (HexDigitValue(digit) < 0)
            return false;
    return true;
}

bool Sha256Matches(std::string_view aListed, const TSHA256Digest& aDigest)
{
    if (!IsSha256Text(aListed))
        return false;
    for (std::size_t i = 0; i < aDigest.size(); ++i)
        if (HexDigitValue(aListed[2 * i]) * 16 + HexDigitValue(aListed[2 * i + 1]) != aDigest[i])
            return false;
    return true;
}
