#include "platform/settings.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/hive_file.h"
#include "platform/posix_util.h"
#include "platform/text.h"

namespace fs = std::filesystem;

std::atomic<HKEY> SettingsRootKey{0};

namespace {

constexpr std::uint32_t KEY_SET_VALUE = 0x0002;
std::string RootName(HKEY aRootKey)
{
    return aRootKey == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "";
}

[[noreturn]] void ThrowInvalidType(const std::string& aName)
{
    throw RegistryError("Invalid data type for '" + aName + "'");
}

[[noreturn]] void ThrowGetFailed(const std::string& aName)
{
    throw RegistryError("Failed to get data for '" + aName + "'");
}

[[noreturn]] void ThrowSetFailed(const std::string& aName)
{
    throw RegistryError("Failed to set data for '" + aName + "'");
}

std::int32_t LittleEndian32(const std::uint8_t* aBytes)
{
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i)
        number = (number << 8) | aBytes[i];
    return static_cast<std::int32_t>(number);
}

// The full key name of aKeyPath ("\\..." below the root); "" when the root
// or the path cannot name a key.
std::string FullKeyName(HKEY aRootKey, std::string_view aKeyPath)
{
    const std::string root = RootName(aRootKey);
    if (root.empty() || aKeyPath.empty() || aKeyPath.front() != '\\')
        return "";
    aKeyPath.remove_prefix(1);
    if (!aKeyPath.empty() && aKeyPath.back() == '\\')
        aKeyPath.remove_suffix(1);
    if (aKeyPath.empty() || aKeyPath.front() == '\\' || aKeyPath.find("\\\\") != std::string_view::npos
        || !IsValidUtf8(aKeyPath))
        return "";
    return root + "\\" + std::string(aKeyPath);
}

// Decimal digits only, and no more than fit: anything else is no number.
std::uint64_t NumberOfValue(const TRegValue* aValue)
{
    if (aValue == nullptr || (aValue->type != REG_SZ && aValue->type != REG_EXPAND_SZ))
        return 0;
    return WholeDecimal(TextOfValue(*aValue)).value_or(0);
}

}  // namespace

std::optional<std::uint64_t> RegRaiseNumber(HKEY aRootKey, const std::string& aKeyPath,
                                            const std::string& aValueName, std::uint64_t aNumber)
{
    const std::string name = FullKeyName(aRootKey, aKeyPath);
    if (name.empty() || !IsValidUtf8(aValueName))
        return std::nullopt;
    std::uint64_t standing = aNumber;
    try {
        const bool written = ChangeHive(UserHivePath(), [&](TRegistryHive& aHive) {
            const TRegKey* key = aHive.FindKey(name);
            const TRegValue* value = key ? key->Find(aValueName) : nullptr;
            if (const std::uint64_t stored = NumberOfValue(value); value && stored >= aNumber) {
                standing = stored;
                return false;
            }
            aHive.CreateKey(name).Set(aValueName, MakeTextValue(std::to_string(aNumber)));
            return true;
        });
        // An unchanged hive is reported as written too: only a hive that
        // cannot be read or written fails.
        if (!written)
            return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;  // out of memory while formatting: the file is untouched
    }
    return standing;
}

std::uint64_t RegReadNumber(HKEY aRootKey, const std::string& aKeyPath, const std::string& aValueName)
{
    const std::string name = FullKeyName(aRootKey, aKeyPath);
    if (name.empty())
        return 0;
    const std::optional<TRegistryHive> hive = LoadHive(UserHivePath());
    const TRegKey* key = hive ? hive->FindKey(name) : nullptr;
    return key ? NumberOfValue(key->Find(aValueName)) : 0;
}

fs::path UserHivePath()
{
    return XdgBaseFolder("XDG_CONFIG_HOME", ".config") / "Corvane" / "user.reg";
}

std::string RegReadString(HKEY aRootKey, const std::string& aKeyPath, const std::string& aValueName,
                          const std::string& aDefault)
{
    HRegistry registry(KEY_READ);
    registry.SetRootKey(aRootKey);
    if (!registry.OpenKey(aKeyPath, false) || !registry.ValueExists(aValueName))
        return aDefault;
    return registry.ReadString(aValueName);
}

bool RegWriteString(HKEY aRootKey, const std::string& aKeyPath, const std::string& aValueName,
                    const std::string& aText)
{
    HRegistry registry;
    registry.SetRootKey(aRootKey);
    if (!registry.OpenKey(aKeyPath, true))
        return false;
    registry.WriteString(aValueName, aText);
    return true;
}

HRegistry::HRegistry(std::uint32_t aAccess) : mAccess(aAccess) {}

void HRegistry::SetRootKey(HKEY aRootKey)
{
    CloseKey();
    mRootKey = aRootKey;
}

bool HRegistry::OpenKey(const std::string& aKey, bool aCanCreate)
{
    const std::string root = RootName(mRootKey);
    if (root.empty())
        return false;
    // A path without the leading "\" goes on from the open key.
    std::string name = (aKey.empty() || aKey.front() == '\\' || mKeyName.empty()) ? root : mKeyName;
    std::string_view relative = aKey;
    if (!relative.empty() && relative.front() == '\\')
        relative.remove_prefix(1);
    if (!relative.empty() && relative.back() == '\\')
        relative.remove_suffix(1);
    if (!relative.empty()) {
        if (relative.front() == '\\' || relative.find("\\\\") != std::string_view::npos
            || (aCanCreate && !IsValidUtf8(relative)))
            return false;
        name += "\\";
        name += relative;
    }

    const fs::path hivePath = UserHivePath();
    TRegKey values{name};
    auto takeKey = [&](TRegistryHive& aHive) {
        const bool exists = SameRegistryName(name, root) || aHive.KeyExists(name);
        if (!exists && aCanCreate)
            aHive.CreateKey(name);
        if (const TRegKey* key = aHive.FindKey(name))
            values = *key;
        return exists;
    };
    if (aCanCreate) {
        // A key that is there already changes nothing, but the write rights
        // are checked all the same: opening for writing must fail where a
        // write would.
        if (!ChangeHive(hivePath, [&](TRegistryHive& aHive) { return !takeKey(aHive); }))
            return false;
    } else {
        std::optional<TRegistryHive> hive = LoadHive(hivePath);
        if (!hive || !takeKey(*hive))
            return false;
    }
    CloseKey();
    mHivePath = hivePath;
    mKeyName = std::move(name);
    mValues = std::move(values);
    return true;
}

void HRegistry::CloseKey()
{
    mKeyName.clear();
    mValues.reset();
}

const TRegValue* HRegistry::FindValue(const std::string& aName) const
{
    return mValues ? mValues->Find(aName) : nullptr;
}

bool HRegistry::ValueExists(const std::string& aName) const
{
    return FindValue(aName) != nullptr;
}

std::string HRegistry::ReadString(const std::string& aName) const
{
    const TRegValue* value = FindValue(aName);
    if (value == nullptr || value->data.empty())
        return "";
    if (value->type != REG_SZ && value->type != REG_EXPAND_SZ)
        ThrowInvalidType(aName);
    return TextOfValue(*value);
}

void HRegistry::WriteString(const std::string& aName, const std::string& aValue)
{
    WriteValue(aName, MakeTextValue(aValue));
}

std::int32_t HRegistry::ReadInteger(const std::string& aName) const
{
    const TRegValue* value = FindValue(aName);
    if (value == nullptr || value->data.size() > 4)
        ThrowGetFailed(aName);
    if (value->type != REG_DWORD)
        ThrowInvalidType(aName);
    std::uint8_t bytes[4] = {};
    std::copy(value->data.begin(), value->data.end(), bytes);
    return LittleEndian32(bytes);
}

bool HRegistry::ReadBoolDef(const std::string& aName, bool aDefault) const
{
    return ValueExists(aName) ? ReadInteger(aName) != 0 : aDefault;
}

std::int32_t HRegistry::ReadIntegerDef(const std::string& aName, std::int32_t aDefault) const
{
    return ValueExists(aName) ? ReadInteger(aName) : aDefault;
}

std::string HRegistry::ReadStringDef(const std::string& aName, const std::string& aDefault) const
{
    return ValueExists(aName) ? ReadString(aName) : aDefault;
}

TPoint HRegistry::ReadPoint(const std::string& aName) const
{
    std::uint8_t bytes[8] = {};
    if (const TRegValue* value = FindValue(aName)) {
        if (value->type == REG_SZ || value->type == REG_EXPAND_SZ || value->type == REG_DWORD
            || value->data.size() > sizeof bytes)
            ThrowInvalidType(aName);
        std::copy(value->data.begin(), value->data.end(), bytes);
    }
    return TPoint{LittleEndian32(bytes), LittleEndian32(bytes + 4)};
}

TPoint HRegistry::ReadPointDef(const std::string& aName, const TPoint& aDefault) const
{
    return ValueExists(aName) ? ReadPoint(aName) : aDefault;
}

void HRegistry::WritePoint(const std::string& aName, const TPoint& aPoint)
{
    TRegValue value;
    value.type = REG_BINARY;
    for (const std::int32_t coordinate : {aPoint.X, aPoint.Y})
        for (int i = 0; i < 4; ++i)
            value.data.push_back(
                static_cast<std::uint8_t>(static_cast<std::uint32_t>(coordinate) >> (8 * i)));
    WriteValue(aName, std::move(value));
}

std::string HRegistry::ReadWideString(const std::string& aName) const
{
    return ReadString(aName);
}

void HRegistry::WriteWideString(const std::string& aName, const std::string& aStr)
{
    WriteString(aName, aStr);
}

void HRegistry::WriteValue(const std::string& aName, TRegValue aValue)
{
    // A name is written as text: bytes that are not UTF-8 would turn the
    // whole file into another encoding for the next reader.
    if (!mValues || (mAccess & KEY_SET_VALUE) == 0 || !IsValidUtf8(aName))
        ThrowSetFailed(aName);
    bool written = false;
    try {
        // The key is created again if another process removed it meanwhile.
        written = ChangeHive(mHivePath, [&](TRegistryHive& aHive) {
            aHive.CreateKey(mKeyName).Set(aName, aValue);
            return true;
        });
    } catch (const std::exception&) {
        written = false;  // out of memory while formatting: the file is untouched
    }
    if (!written)
        ThrowSetFailed(aName);
    mValues->Set(aName, std::move(aValue));
}
