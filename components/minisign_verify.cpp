#include "components/minisign_verify.h"
#include "components/hex_text.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "components/text_lines.h"

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";

// Algorithm tags as the files store them: "Ed" signs the file itself, "ED"
// signs its BLAKE2b-512 (minisign's default since 0.10).
constexpr std::uint8_t kLegacyAlgorithm[2] = {'E', 'd'};
constexpr std::uint8_t kPrehashedAlgorithm[2] = {'E', 'D'};

constexpr std::size_t kKeyIdSize = 8;
constexpr std::size_t kPublicKeyBlobSize = 2 + kKeyIdSize + crypto_sign_PUBLICKEYBYTES;
constexpr std::size_t kSignatureBlobSize = 2 + kKeyIdSize + crypto_sign_BYTES;

static_assert(crypto_sign_PUBLICKEYBYTES == 32 && crypto_sign_BYTES == 64);

bool SodiumReady()
{
    // Safe to call from any thread and any number of times; 1 means "already".
    static const bool ready = sodium_init() >= 0;
    return ready;
}

bool IsBase64Digit(char aChar)
{
    return (aChar >= 'A' && aChar <= 'Z') || (aChar >= 'a' && aChar <= 'z') || (aChar >= '0' && aChar <= '9')
           || aChar == '+' || aChar == '/';
}

// Whether aText has the one shape base64 gives aSize bytes: its length, the
// 64 digits only and exactly the padding that length needs. libsodium reads
// more than that (Debian 12's takes every byte from 0x80 up for "/"), and a
// signature whose text can change without changing what it says is no
// signature to show or keep.
bool HasBase64Shape(std::string_view aText, std::size_t aSize)
{
    const std::size_t padding = (3 - aSize % 3) % 3;
    if (aText.size() != (aSize + 2) / 3 * 4)
        return false;
    const std::size_t digits = aText.size() - padding;
    for (std::size_t i = 0; i < aText.size(); ++i)
        if (i < digits ? !IsBase64Digit(aText[i]) : aText[i] != '=')
            return false;
    return true;
}

// Strict base64 (padding required, no blanks inside) of exactly aSize bytes.
bool DecodeExactly(std::string_view aText, std::uint8_t* aOut, std::size_t aSize)
{
    if (aText.empty() || !HasBase64Shape(aText, aSize))
        return false;
    // One byte more than wanted, so that a longer text is told apart from a
    // text of exactly the right length.
    std::vector<std::uint8_t> decoded(aSize + 1);
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(decoded.data(), decoded.size(), aText.data(), aText.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL)
            != 0
        || end != aText.data() + aText.size() || length != aSize)
        return false;
    std::memcpy(aOut, decoded.data(), aSize);
    return true;
}

std::string_view TrimBlanks(std::string_view aText)
{
    const auto first = aText.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return aText.substr(first, aText.find_last_not_of(" \t\r\n") - first + 1);
}

// minisign writes "\n" line ends and reads "\r\n" too; blank lines at the end
// are no part of the signature.
std::vector<std::string_view> SignatureLines(std::string_view aText)
{
    std::vector<std::string_view> lines = SplitLines(aText);
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

bool Verify(const std::uint8_t* aSignature, const std::uint8_t* aMessage, std::size_t aSize,
            const TMinisignPublicKey& aKey)
{
    return crypto_sign_verify_detached(aSignature, aMessage, aSize, aKey.key.data()) == 0;
}

}  // namespace

std::optional<TMinisignPublicKey> ParseMinisignPublicKey(std::string_view aKeyLine)
{
    std::uint8_t blob[kPublicKeyBlobSize];
    if (!SodiumReady() || !DecodeExactly(TrimBlanks(aKeyLine), blob, sizeof blob)
        || !std::equal(blob, blob + 2, kLegacyAlgorithm))
        return std::nullopt;
    TMinisignPublicKey key;
    std::copy_n(blob + 2, kKeyIdSize, key.keyId.begin());
    std::copy_n(blob + 2 + kKeyIdSize, key.key.size(), key.key.begin());
    return key;
}

TSignatureCheck VerifyMinisign(const TMinisignPublicKey& aKey, std::string_view aSignatureFile,
                               std::string_view aMessage, std::string* aTrustedComment)
{
    if (!SodiumReady())
        return TSignatureCheck::kMalformed;
    const auto lines = SignatureLines(aSignatureFile);
    if (lines.size() != 4 || !lines[0].starts_with(kUntrustedPrefix) || !lines[2].starts_with(kTrustedPrefix))
        return TSignatureCheck::kMalformed;

    std::uint8_t blob[kSignatureBlobSize];
    std::uint8_t global[crypto_sign_BYTES];
    if (!DecodeExactly(lines[1], blob, sizeof blob) || !DecodeExactly(lines[3], global, sizeof global))
        return TSignatureCheck::kMalformed;

    const bool prehashed = std::equal(blob, blob + 2, kPrehashedAlgorithm);
    if (!prehashed && !std::equal(blob, blob + 2, kLegacyAlgorithm))
        return TSignatureCheck::kUnknownAlgorithm;
    if (!std::equal(blob + 2, blob + 2 + kKeyIdSize, aKey.keyId.begin()))
        return TSignatureCheck::kOtherKey;

    const std::uint8_t* signature = blob + 2 + kKeyIdSize;
    const auto* message = reinterpret_cast<const std::uint8_t*>(aMessage.data());
    if (prehashed) {
        std::uint8_t hash[crypto_generichash_BYTES_MAX];
        crypto_generichash(hash, sizeof hash, message, aMessage.size(), nullptr, 0);
        if (!Verify(signature, hash, sizeof hash, aKey))
            return TSignatureCheck::kBadSignature;
    } else if (!Verify(signature, message, aMessage.size(), aKey)) {
        return TSignatureCheck::kBadSignature;
    }

    // The global signature binds the trusted comment to this very signature.
    const std::string_view comment = lines[2].substr(kTrustedPrefix.size());
    std::vector<std::uint8_t> signedComment(signature, signature + crypto_sign_BYTES);
    signedComment.insert(signedComment.end(), comment.begin(), comment.end());
    if (!Verify(global, signedComment.data(), signedComment.size(), aKey))
        return TSignatureCheck::kBadTrustedComment;

    if (aTrustedComment)
        *aTrustedComment = std::string(comment);
    return TSignatureCheck::kValid;
}

std::string SignatureCheckText(TSignatureCheck aCheck)
{
    switch (aCheck) {
    case TSignatureCheck::kValid: return "signature valid";
    case TSignatureCheck::kMalformed: return "not a minisign signature";
    case TSignatureCheck::kUnknownAlgorithm: return "unknown signature algorithm";
    case TSignatureCheck::kOtherKey: return "signed with another key";
    case TSignatureCheck::kBadSignature: return "signature does not match the file";
    case TSignatureCheck::kBadTrustedComment: return "trusted comment was changed";
    }
    return "unknown signature check";
}

std::string MinisignKeyIdText(const std::array<std::uint8_t, 8>& aKeyId)
{
    // The id's bytes are little-endian; the number is written from its top.
    const std::array<std::uint8_t, 8> topFirst{aKeyId[7], aKeyId[6], aKeyId[5], aKeyId[4],
                                               aKeyId[3], aKeyId[2], aKeyId[1], aKeyId[0]};
    const std::string text = HexText(topFirst.data(), topFirst.size(), THexCase::Upper);
    // minisign prints the id as a plain number, without leading zeros.
    const auto first = text.find_first_not_of('0');
    return first == std::string::npos ? "0" : text.substr(first);
}
