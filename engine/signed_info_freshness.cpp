#include "engine/signed_info_freshness.h"

#include "components/sha256.h"
#include "engine/release_signature.h"
#include "platform/settings.h"
#include "platform/text.h"

namespace {

constexpr const char* kAddressValue = "InfoAddress";
constexpr const char* kTimestampValue = "Timestamp";

}  // namespace

std::string SignedInfoSettingsKey(const std::string& aInfoAddress)
{
    const std::string address = TrimControl(aInfoAddress);
    Sha256Core core;
    core.Update(address.data(), address.size());
    return std::string(kSignedInfoSettingsKey) + "\\" + Sha256ToHex(core.Final());
}

std::optional<std::string> AcceptSignedTimestamp(const std::string& aInfoAddress, std::uint64_t aTimestamp)
{
    const HKEY root = SettingsRootKey.load();
    const std::string key = SignedInfoSettingsKey(aInfoAddress);
    std::uint64_t standing = aTimestamp;
    if (const auto raised = RegRaiseNumber(root, key, kTimestampValue, aTimestamp)) {
        standing = *raised;
        if (standing == aTimestamp) {
            try {
                RegWriteString(root, key, kAddressValue, TrimControl(aInfoAddress));
            } catch (const RegistryError&) {
                // Only a label for people; the time that matters is kept.
            }
        }
    } else {
        standing = RegReadNumber(root, key, kTimestampValue);
    }
    if (standing <= aTimestamp)
        return std::nullopt;
    return "signed " + UtcDateText(aTimestamp)
           + ", older than the one accepted before for this address (signed " + UtcDateText(standing) + ")";
}
