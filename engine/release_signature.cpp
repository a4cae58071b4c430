#include "engine/release_signature.h"

#include <ctime>

#include "components/minisign_verify.h"
#include "components/sha256.h"
#include "platform/text.h"

std::string SignatureAddress(const std::string& aInfoAddress)
{
    std::string address = TrimControl(aInfoAddress);
    std::size_t end = address.size();
    // Only an address with a scheme has a query; a local path keeps any "?"
    // as part of its name.
    if (const auto scheme = address.find("://"); scheme != std::string::npos)
        end = std::min(address.find_first_of("?#", scheme + 3), address.size());
    return address.insert(end, ".minisig");
}

std::optional<TIniReader> ReadSignedInfoFile(const std::string& aPublicKey, const std::string& aInfoFile,
                                             const std::string& aSignatureFile, std::string& aProblem,
                                             std::string* aTrustedComment)
{
    const auto key = ParseMinisignPublicKey(aPublicKey);
    if (!key) {
        aProblem = "the key built into this program is no minisign public key";
        return std::nullopt;
    }
    bool more = false;
    std::string signature = TIniReader::ReadBytes(aSignatureFile, more, kMaxSignatureBytes);
    if (signature.empty() || more) {
        aProblem = signature.empty() ? "no signature" : "signature file too large";
        return std::nullopt;
    }
    std::string info = TIniReader::ReadBytes(aInfoFile, more);
    if (more) {
        aProblem = "info file too large to check";
        return std::nullopt;
    }
    const TSignatureCheck check = VerifyMinisign(*key, signature, info, aTrustedComment);
    if (check != TSignatureCheck::kValid) {
        aProblem = SignatureCheckText(check);
        if (check == TSignatureCheck::kOtherKey)
            aProblem += ", not key " + MinisignKeyIdText(key->keyId);
        return std::nullopt;
    }
    return TIniReader::FromBytes(std::move(info));
}

bool Sha256TextMatches(const std::string& aListed, const std::string& aActual)
{
    if (!IsSha256Text(aListed) || aListed.size() != aActual.size())
        return false;
    for (std::size_t i = 0; i < aListed.size(); ++i)
        if (LowerAscii(aListed[i]) != aActual[i])
            return false;
    return true;
}

std::optional<std::uint64_t> TrustedCommentTimestamp(std::string_view aComment)
{
    constexpr std::string_view kPrefix = "timestamp:";
    if (!aComment.starts_with(kPrefix))
        return std::nullopt;
    aComment.remove_prefix(kPrefix.size());
    const std::optional<std::uint64_t> seconds = TakeDecimal(aComment);
    if (!seconds || (!aComment.empty() && aComment.front() != ' ' && aComment.front() != '\t'))
        return std::nullopt;
    return seconds;
}

std::string UtcDateText(std::uint64_t aSeconds)
{
    // Past the year 9999 ISO 8601 needs a sign and more digits; no real
    // signature is that late, so the number is shown as it is.
    constexpr std::uint64_t kLastSecondOf9999 = 253402300799;
    std::tm parts{};
    const auto seconds = static_cast<std::time_t>(aSeconds);
    char text[32] = "";
    if (aSeconds > kLastSecondOf9999 || !::gmtime_r(&seconds, &parts)
        || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0)
        return "timestamp " + std::to_string(aSeconds);
    return text;
}

std::optional<std::string> SignedInfoMismatch(const TIniReader& aIni, std::string_view aTrustedComment,
                                              const std::string& aLookupAddress, const std::string& aRelease,
                                              std::uint64_t& aTimestamp)
{
    const std::string published = TrimControl(aIni.ReadString("General", kInfoAddressKey, ""));
    const std::string fetched = TrimControl(aLookupAddress);
    if (published.empty())
        return std::string("it names no [General] ") + kInfoAddressKey;
    if (published != fetched)
        return "it is published at " + published + ", not at " + fetched;
    if (const std::string asked = TrimControl(aRelease); !asked.empty()) {
        const std::string named = TrimControl(aIni.ReadString("General", kReleaseKey, ""));
        if (named.empty())
            return std::string("it names no [General] ") + kReleaseKey + " and release " + asked
                   + " was asked for";
        if (named != asked)
            return "it is for release " + named + ", not release " + asked;
    }
    const auto timestamp = TrustedCommentTimestamp(aTrustedComment);
    if (!timestamp)
        return std::string("its trusted comment does not begin with timestamp:SECONDS");
    aTimestamp = *timestamp;
    return std::nullopt;
}
