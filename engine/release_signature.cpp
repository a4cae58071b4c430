#include "engine/release_signature.h"

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
                                             const std::string& aSignatureFile, std::string& aProblem)
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
    const TSignatureCheck check = VerifyMinisign(*key, signature, info);
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
