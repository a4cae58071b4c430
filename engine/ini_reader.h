#pragma once
// Reads an info file with the profile-string rules the wizard relies on:
// case-insensitive section and key names, values trimmed of blanks and of one
// pair of enclosing quotes, values cut to 2047 characters, the first of two
// equal keys winning, sections of the same name merged.
//
// The file is read and parsed once by the constructor; every lookup after that
// is a binary search, so reading thousands of entries one by one stays cheap.
// A reader is immutable after construction and may be shared between threads.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TIniReader {
public:
    // Only this many bytes of a file are read; the rest counts as absent, so a
    // hostile server cannot make the wizard hold more than a few times this.
    static constexpr std::size_t kMaxFileBytes = std::size_t{4} << 20;
    // Values are cut to this many characters (code points).
    static constexpr std::size_t kMaxValueChars = 2047;

    // Reads the whole file once. A missing or unreadable file reads as empty:
    // every key is missing. Never throws for the file's content.
    explicit TIniReader(const std::string& aFileName);
    // Parses bytes already in hand as the constructor parses a file's, so
    // that a signed info file is checked and read from one and the same read.
    static TIniReader FromBytes(std::string aBytes);
    // Reads an open file, from its offset, as the constructor reads a named
    // one: for a file reached through a folder's descriptor.
    static TIniReader FromDescriptor(int aFd);
    // The bytes the constructor would read: at most aLimit, aMore telling
    // whether the file held more; a missing or unreadable file gives none.
    static std::string ReadBytes(const std::string& aFileName, bool& aMore,
                                 std::size_t aLimit = kMaxFileBytes);

    // The value, or aDefault with its trailing blanks removed when the key is missing.
    std::string ReadString(std::string_view aSection, std::string_view aKey, std::string_view aDefault) const;
    // Presence by key name: a key with an empty value is present.
    bool ValueExists(std::string_view aSection, std::string_view aKey) const;
    // True when the section holds at least one key.
    bool SectionHasKeys(std::string_view aSection) const;
    // The value converted with the user's decimal separator; 0 when missing or not a number.
    double ReadFloat(std::string_view aSection, std::string_view aKey) const;

    // True when the file was longer than kMaxFileBytes and its tail was ignored
    // (the last, possibly cut, line included).
    bool Truncated() const { return mTruncated; }

private:
    TIniReader() = default;
    // Offsets into mNames (folded section and key names) and mText (values):
    // 24 bytes a key, whatever its length, keeps a file of many tiny lines from
    // costing much more memory than the file itself.
    struct TEntry {
        std::uint32_t sectionPos, sectionLength;
        std::uint32_t keyPos, keyLength;
        std::uint32_t valuePos, valueLength;
    };

    // The folded section and key names of an entry, the order of mEntries.
    static std::pair<std::string_view, std::string_view> NameOf(std::string_view aNames, const TEntry& aEntry)
    {
        return {aNames.substr(aEntry.sectionPos, aEntry.sectionLength),
                aNames.substr(aEntry.keyPos, aEntry.keyLength)};
    }
    void Parse();
    const TEntry* Find(std::string_view aSection, std::string_view aKey) const;

    std::string mText;             // the whole file as UTF-8
    std::string mNames;            // folded names, one copy per section run and per key
    std::vector<TEntry> mEntries;  // sorted by section, key; one per section and key
    bool mTruncated = false;
};

// Strict number reading: optional blanks (spaces, tabs), an optional sign,
// digits with at most one aDecimalSeparator, an optional exponent ("e" or "E",
// optional sign, digits), optional blanks. No thousands separators. aOk tells
// whether the text was such a number; the result is 0 when it was not, or when
// the number is out of range.
double StrToFloatWithSeparator(std::string_view aText, char aDecimalSeparator, bool& aOk);

// The decimal separator of the user's locale (the environment's LC_NUMERIC /
// LANG settings), '.' when the locale is unknown. Leaves the global locale alone.
char UserDecimalSeparator();
