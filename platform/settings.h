#pragma once
// The per-user settings store: registry keys and values kept in a hive file,
// ${XDG_CONFIG_HOME:-$HOME/.config}/Corvane/user.reg. Key paths use "\" and a
// path that begins with "\" is taken from the root key of the call.
//
// Nothing is cached between calls: every read looks at the file as it is, and
// every write changes one value of the file as it is at that moment, under a
// lock, so that two running wizards keep each other's values. A hive file that
// cannot be read (unreadable, not understood, not a regular file, or larger
// than kMaxHiveBytes) is left as it is: reads give their defaults, key creation
// fails, and the first such failure of the process is told on stderr.
//
// Threads: any; calls share no state apart from that one-time notice.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/hive_file.h"
#include "platform/registry_hive.h"

using HKEY = std::uintptr_t;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001;

inline constexpr std::uint32_t KEY_READ = 0x20019;
inline constexpr std::uint32_t KEY_ALL_ACCESS = 0xF003F;

// 0 until the program sets it to HKEY_CURRENT_USER; every settings call of the
// program passes it.
extern std::atomic<HKEY> SettingsRootKey;

// The program's own key under the root, and the value the folder dialog's
// choice is kept in.
inline constexpr const char* kProgramSettingsKey = "\\SOFTWARE\\Corvane\\Downloader";
inline constexpr const char* kDestinationValueName = "Destination";

// Read and write failures of a value that exists or was opened: the exact
// texts "Invalid data type for '<name>'", "Failed to get data for '<name>'"
// and "Failed to set data for '<name>'".
class RegistryError : public std::runtime_error {
public:
    using runtime_error::runtime_error;
};

// Reads the environment on every call, so that tests and the program agree on
// the file even when the environment changes.
std::filesystem::path UserHivePath();

// aDefault when the key or the value is missing or the hive cannot be read.
// Throws RegistryError when the value is not text.
std::string RegReadString(HKEY aRootKey, const std::string& aKeyPath, const std::string& aValueName,
                          const std::string& aDefault = "");

// Creates the key path as needed. false when the key cannot be created: an
// unwritable folder or hive file, or a hive file that cannot be read. Throws
// RegistryError when the write fails after that.
bool RegWriteString(HKEY aRootKey, const std::string& aKeyPath, const std::string& aValueName,
                    const std::string& aText);

// Raises the whole number kept as decimal text in aValueName of aKeyPath
// (created as needed) to aNumber, and leaves a larger one as it is: one
// change of the hive under its lock, so that of two wizards storing at once
// the larger number stands. A value that holds no such number counts as 0.
// Returns the number that stands afterwards; nullopt when the hive cannot be
// read or written, and then nothing is stored.
std::optional<std::uint64_t> RegRaiseNumber(HKEY aRootKey, const std::string& aKeyPath,
                                            const std::string& aValueName, std::uint64_t aNumber);

// The whole number kept as decimal text in aValueName; 0 when the key, the
// value or the number is missing, or the hive cannot be read.
std::uint64_t RegReadNumber(HKEY aRootKey, const std::string& aKeyPath, const std::string& aValueName);

struct TPoint {
    std::int32_t X = 0, Y = 0;
};

// The registry accessor: one open key at a time. Reads see the key as it was
// when it was opened (plus this accessor's own writes); each write goes to the
// file at once. The object belongs to one thread at a time.
class HRegistry {
public:
    explicit HRegistry(std::uint32_t aAccess = KEY_ALL_ACCESS);
    HRegistry(const HRegistry&) = delete;
    HRegistry& operator=(const HRegistry&) = delete;
    ~HRegistry() = default;

    HKEY RootKey() const { return mRootKey; }
    void SetRootKey(HKEY aRootKey);

    // false when the key does not exist (and aCanCreate is false), cannot be
    // created, or the hive cannot be read.
    bool OpenKey(const std::string& aKey, bool aCanCreate);
    void CloseKey();

    bool ValueExists(const std::string& aName) const;
    std::string ReadString(const std::string& aName) const;
    void WriteString(const std::string& aName, const std::string& aValue);

    bool ReadBoolDef(const std::string& aName, bool aDefault) const;
    std::int32_t ReadIntegerDef(const std::string& aName, std::int32_t aDefault) const;
    std::string ReadStringDef(const std::string& aName, const std::string& aDefault) const;
    // A missing value gives the zero point: nothing is copied into it.
    TPoint ReadPoint(const std::string& aName) const;
    TPoint ReadPointDef(const std::string& aName, const TPoint& aDefault) const;
    void WritePoint(const std::string& aName, const TPoint& aPoint);
    std::string ReadWideString(const std::string& aName) const;
    void WriteWideString(const std::string& aName, const std::string& aStr);

private:
    const TRegValue* FindValue(const std::string& aName) const;
    std::int32_t ReadInteger(const std::string& aName) const;
    void WriteValue(const std::string& aName, TRegValue aValue);

    std::uint32_t mAccess;
    HKEY mRootKey = HKEY_CURRENT_USER;
    std::filesystem::path mHivePath;  // fixed when the key is opened
    std::string mKeyName;             // full name in the hive; empty: no key open
    std::optional<TRegKey> mValues;   // the open key's values as read
};
