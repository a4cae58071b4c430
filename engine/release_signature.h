#pragma once
// Signed releases: with a vendor key built in, the info file counts only with
// a valid minisign signature beside it, and a newer wizard starts only when
// it matches the DownloaderSHA256 of that signed file. Without a key nothing
// here is used.

#include <optional>
#include <string>

#include "engine/ini_reader.h"

// [General] key and section that only a signed info file's reader uses.
inline constexpr const char* kWizardSha256Key = "DownloaderSHA256";
inline constexpr const char* kChecksum256Section = "Checksum256";

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
// is refused; aProblem then is a short lower-case reason.
std::optional<TIniReader> ReadSignedInfoFile(const std::string& aPublicKey, const std::string& aInfoFile,
                                             const std::string& aSignatureFile, std::string& aProblem);

// True when aListed is a SHA-256 text (64 hex digits, either case) equal to
// aActual (our lower-case text).
bool Sha256TextMatches(const std::string& aListed, const std::string& aActual);
