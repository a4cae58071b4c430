#pragma once
// A registry hive held in memory, read from and written to the text form of
// the registry editor's export files ("Windows Registry Editor Version 5.00").
// Values keep their registry type and their bytes exactly as the registry
// holds them (text as UTF-16LE with its NUL), so that type checks and the
// zero-byte and embedded-NUL cases behave as they do on the registry itself.
// No file access here: see platform/settings.h.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t REG_MULTI_SZ = 7;
inline constexpr std::uint32_t REG_QWORD = 11;

struct TRegValue {
    std::uint32_t type = REG_NONE;
    std::vector<std::uint8_t> data;

    friend bool operator==(const TRegValue&, const TRegValue&) = default;
};

// aText (UTF-8) as UTF-16LE followed by a NUL: an empty text gives 2 bytes.
TRegValue MakeTextValue(std::string_view aText, std::uint32_t aType = REG_SZ);
TRegValue MakeDwordValue(std::uint32_t aNumber);

// The data as UTF-16LE up to its first NUL, in UTF-8. No type check.
std::string TextOfValue(const TRegValue& aValue);

// Key and value names compare as the registry compares them: without regard
// to case (ASCII letters only).
bool SameRegistryName(std::string_view aLeft, std::string_view aRight);
// The name with ASCII capitals lowered: equal for names SameRegistryName
// takes as the same.
std::string FoldRegistryName(std::string_view aName);

// One key written in a hive: its values in file order, and an index by the
// case-folded name so that a value is found at once even among thousands (a
// hive is parsed on every settings call). The values change only through
// Set, which keeps the two in step.
class TRegKey {
public:
    using TNamedValue = std::pair<std::string, TRegValue>;  // "" is the default value

    explicit TRegKey(std::string aPath) : mPath(std::move(aPath)) {}

    // Full name as written, e.g. HKEY_CURRENT_USER\SOFTWARE\Corvane.
    const std::string& Path() const { return mPath; }
    const std::vector<TNamedValue>& Values() const { return mValues; }

    const TRegValue* Find(std::string_view aName) const;
    // A value of the same name (any case) keeps its place and its spelling.
    void Set(const std::string& aName, TRegValue aValue);

private:
    std::string mPath;
    std::vector<TNamedValue> mValues;
    std::unordered_map<std::string, std::size_t> mIndex;  // folded name -> place in mValues
};

// A line of a hive file that cannot be read. what() is "line N: reason".
class HiveFormatError : public std::runtime_error {
public:
    HiveFormatError(std::size_t aLine, const std::string& aReason);
    std::size_t Line() const { return mLine; }

private:
    std::size_t mLine;
};

class TRegistryHive {
public:
    // Accepts UTF-8 (with or without a byte-order mark), UTF-16LE with its
    // mark, and Windows-1252 where the bytes are not UTF-8, as older editors
    // wrote. An empty file is an empty hive. Throws HiveFormatError.
    static TRegistryHive Parse(std::string_view aBytes);

    // UTF-8 without a byte-order mark, LF line ends.
    std::string Format() const;

    // aPath is a full key name such as HKEY_CURRENT_USER\SOFTWARE. A key
    // exists when it is written in the hive or is an ancestor of one that is,
    // as a registry key exists when any of its sub-keys does.
    bool KeyExists(std::string_view aPath) const;
    // Only keys written in the hive; an ancestor-only key has no values.
    const TRegKey* FindKey(std::string_view aPath) const;
    // The key written in the hive, added at the end when it is not there yet.
    // The reference holds until the next CreateKey.
    TRegKey& CreateKey(std::string_view aPath);

    const std::vector<TRegKey>& Keys() const { return mKeys; }

private:
    std::vector<TRegKey> mKeys;                           // file order, which Format keeps
    std::unordered_map<std::string, std::size_t> mIndex;  // folded path -> place in mKeys
};
