#pragma once
// Checks a detached signature in minisign's text format against a vendor key
// built into the program. Only the text format is ours; the Ed25519 check and
// the BLAKE2b-512 prehash come from libsodium, whose headers stay inside
// minisign_verify.cpp. Qt-free, no shared state: any thread may call.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The key of a minisign public key file: its second line, base64 of the
// algorithm "Ed", the 8-byte key id and the 32-byte Ed25519 key.
struct TMinisignPublicKey {
    std::array<std::uint8_t, 8> keyId{};
    std::array<std::uint8_t, 32> key{};
};

// Why a signature was refused; kValid is the one good outcome.
enum class TSignatureCheck {
    kValid,
    kMalformed,         // not four lines of minisign's format, or bad base64
    kUnknownAlgorithm,  // neither the prehashed "ED" nor the legacy "Ed" form
    kOtherKey,          // made with a key whose id is not ours
    kBadSignature,      // the signed file's bytes are not what was signed
    kBadTrustedComment  // the trusted comment was edited after signing
};

// Reads the base64 key line (surrounding blanks allowed). Empty when the text
// is not a minisign Ed25519 public key.
std::optional<TMinisignPublicKey> ParseMinisignPublicKey(std::string_view aKeyLine);

// Checks aSignatureFile (the whole .minisig text) over aMessage: the key id
// must be aKey's, the signature must cover aMessage in the prehashed or legacy
// form, and the global signature must cover the trusted comment. When the
// result is kValid and aTrustedComment is given, it receives the comment's
// text (after "trusted comment: "), which the caller must treat as untrusted
// for display: it is signed, not clean.
TSignatureCheck VerifyMinisign(const TMinisignPublicKey& aKey, std::string_view aSignatureFile,
                               std::string_view aMessage, std::string* aTrustedComment = nullptr);

// A short lower-case reason for messages: "key id does not match", ...
std::string SignatureCheckText(TSignatureCheck aCheck);

// The key id as minisign prints it in minisign.pub's comment: upper-case hex,
// most significant digit first (the file stores it little-endian), without
// leading zeros.
std::string MinisignKeyIdText(const std::array<std::uint8_t, 8>& aKeyId);
