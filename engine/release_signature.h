#pragma once
// Signed releases: with a vendor key built in, the info file counts only with
// a valid minisign signature beside it, names the address it was published at
// (and the release number, when asked for by number), and is not older than
// one accepted before; a newer wizard starts only when it matches the
// DownloaderSHA256 of that signed file. Without a key nothing here is used.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/ini_reader.h"

// [General] key and section that only a signed info file's reader uses.
inline constexpr const char* kWizardSha256Key = "DownloaderSHA256";
inline constexpr const char* kChecksum256Section = "Checksum256";
// [General] keys that tie a signed info file to where it is published, so
// that an older release's genuine file served elsewhere is refused.
inline constexpr const char* kInfoAddressKey = "InfoAddress";
inline constexpr const char* kReleaseKey = "Release";

// A signature file is four short lines; minisign's own limit for the trusted
// comment is 8 KiB. Anything longer is no signature.
inline constexpr std::size_t kMaxSignatureBytes = 16 * 1024;

// Where the signature of the info file at aInfoAddress lives: ".minisig"
// added to the path, before any query or fragment. Leading and trailing
// blanks and control characters (a service reply's line break) are dropped.
std::string SignatureAddress(const std::string& aInfoAddress);

// The info file, read once and checked against its signature with the key
// line aPublicKey (a minisign.pub second line). Empty with aProblem set when
// the key is unusable, either file is missing or too large, or the signature
// is refused; aProblem then is a short lower-case reason. aTrustedComment,
// when given, receives the verified trusted comment.
std::optional<TIniReader> ReadSignedInfoFile(const std::string& aPublicKey, const std::string& aInfoFile,
                                             const std::string& aSignatureFile, std::string& aProblem,
                                             std::string* aTrustedComment = nullptr);

// The signing time minisign puts first in its trusted comment by default,
// "timestamp:SECONDS" (then the end, a blank or a tab); nullopt when the
// comment does not begin so or the number does not fit.
std::optional<std::uint64_t> TrustedCommentTimestamp(std::string_view aComment);

// aSeconds since 1970 as an ISO 8601 UTC time, "2026-12-11T13:53:12Z".
std::string UtcDateText(std::uint64_t aSeconds);

// Why the verified info file aIni does not belong where the lookup found it;
// nullopt when it does. aLookupAddress is the info file's address as the
// lookup gave it, before any redirect; aRelease the release number asked
// for, "" when the address was not asked for by number. The addresses are
// compared byte for byte once the blanks and control characters at either
// end are dropped (a service reply's line break); [General] InfoAddress must
// be there and equal, and with a number [General] Release too. aTimestamp
// receives the signing time of aTrustedComment, which must have one.
std::optional<std::string> SignedInfoMismatch(const TIniReader& aIni, std::string_view aTrustedComment,
                                              const std::string& aLookupAddress, const std::string& aRelease,
                                              std::uint64_t& aTimestamp);

// True when aListed is a SHA-256 text (64 hex digits, either case) equal to
// aActual (our lower-case text).
bool Sha256TextMatches(const std::string& aListed, const std::string& aActual);
