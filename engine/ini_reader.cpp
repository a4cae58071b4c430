#include "engine/ini_reader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <limits>
#include <locale>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <tuple>

#include <unistd.h>

#include "platform/file_handles.h"
#include "platform/text.h"

namespace {

// Reads at most aLimit bytes; aMore tells whether the file held more. A file
// that cannot be opened or read gives no bytes: it counts as missing.
std::string ReadFileBytes(const std::string& aFileName, std::size_t aLimit, bool& aMore)
{
    aMore = false;
    UniqueFile file{std::fopen(aFileName.c_str(), "rb")};
    if (!file)
        return {};
    std::string bytes;
    char buffer[64 * 1024];
    // One byte past the limit is enough to learn that the file is longer.
    while (bytes.size() <= aLimit) {
        const std::size_t wanted = std::min(sizeof buffer, aLimit + 1 - bytes.size());
        const std::size_t got = std::fread(buffer, 1, wanted, file.get());
        bytes.append(buffer, got);
        if (got < wanted)
            break;
    }
    if (std::ferror(file.get()))
        return {};
    if (bytes.size() > aLimit) {
        aMore = true;
        bytes.resize(aLimit);
    }
    return bytes;
}

// The same through an open file, from its current offset.
std::string ReadDescriptorBytes(int aFd, std::size_t aLimit, bool& aMore)
{
    aMore = false;
    std::string bytes;
    char buffer[64 * 1024];
    while (bytes.size() <= aLimit) {
        const std::size_t wanted = std::min(sizeof buffer, aLimit + 1 - bytes.size());
        const ssize_t got = ::read(aFd, buffer, wanted);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return {};
        if (got == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    if (bytes.size() > aLimit) {
        aMore = true;
        bytes.resize(aLimit);
    }
    return bytes;
}

// A file cut at the size limit ends in the middle of a line, perhaps in the
// middle of a character: keeping that line would hand out a cut value as if it
// were whole, and a cut UTF-8 sequence would make the whole text read as
// Windows-1252. So everything after the last line break goes.
void DropPartialLine(std::string& aBytes, bool aUtf16)
{
    if (aUtf16) {
        std::size_t end = aBytes.size() & ~std::size_t{1};
        while (end >= 4) {  // never into the byte-order mark
            const char low = aBytes[end - 2];
            if (aBytes[end - 1] == '\0' && (low == '\n' || low == '\r'))
                break;
            end -= 2;
        }
        aBytes.resize(std::max<std::size_t>(end, 2));
    } else {
        const std::size_t lastBreak = aBytes.find_last_of("\r\n");
        aBytes.resize(lastBreak == std::string::npos ? 0 : lastBreak + 1);
    }
}

std::string DecodeInfoText(std::string aBytes, bool aTruncated)
{
    const bool utf16 = aBytes.size() >= 2 && static_cast<unsigned char>(aBytes[0]) == 0xFF
                       && static_cast<unsigned char>(aBytes[1]) == 0xFE;
    if (aTruncated)
        DropPartialLine(aBytes, utf16);
    if (utf16) {
        std::u16string units((aBytes.size() - 2) / 2, u'\0');  // an odd last byte is dropped
        for (std::size_t i = 0; i < units.size(); ++i)
            units[i] = static_cast<char16_t>(static_cast<unsigned char>(aBytes[2 + 2 * i])
                                             | static_cast<unsigned char>(aBytes[3 + 2 * i]) << 8);
        aBytes = std::string();  // hold only one copy of the file at a time
        return Utf16ToUtf8(units);
    }
    std::string_view body = aBytes;
    if (body.substr(0, 3) == "\xEF\xBB\xBF")
        body.remove_prefix(3);
    return AnsiToUtf8(body);
}

// Simple lower case of the two-byte UTF-8 range (Latin-1, Latin Extended-A,
// Greek, Cyrillic); every result stays a two-byte sequence.
char32_t FoldTwoByte(char32_t aCode)
{
    if ((aCode >= 0xC0 && aCode <= 0xDE && aCode != 0xD7)
        || (aCode >= 0x391 && aCode <= 0x3AB && aCode != 0x3A2) || (aCode >= 0x410 && aCode <= 0x42F))
        return aCode + 0x20;
    if (aCode >= 0x400 && aCode <= 0x40F)
        return aCode + 0x50;
    if (aCode == 0x178)
        return 0xFF;
    if ((aCode >= 0x100 && aCode <= 0x12F) || (aCode >= 0x132 && aCode <= 0x137)
        || (aCode >= 0x14A && aCode <= 0x177))
        return aCode % 2 == 0 ? aCode + 1 : aCode;
    if ((aCode >= 0x139 && aCode <= 0x148) || (aCode >= 0x179 && aCode <= 0x17E))
        return aCode % 2 == 1 ? aCode + 1 : aCode;
    return aCode;
}

// Names match without regard to case; folding both sides once lets the lookup
// compare plain bytes. aText must be valid UTF-8.
void AppendFolded(std::string& aOut, std::string_view aText)
{
    for (std::size_t i = 0; i < aText.size(); ++i) {
        const auto byte = static_cast<unsigned char>(aText[i]);
        if (byte >= 'A' && byte <= 'Z') {
            aOut += static_cast<char>(byte + ('a' - 'A'));
        } else if (byte >= 0xC2 && byte <= 0xDF && i + 1 < aText.size()) {
            const auto next = static_cast<unsigned char>(aText[i + 1]);
            const char32_t code = FoldTwoByte(static_cast<char32_t>((byte & 0x1F) << 6 | (next & 0x3F)));
            aOut += static_cast<char>(0xC0 | (code >> 6));
            aOut += static_cast<char>(0x80 | (code & 0x3F));
            ++i;
        } else {
            aOut += static_cast<char>(byte);
        }
    }
}

std::string Folded(std::string_view aText)
{
    std::string folded;
    folded.reserve(aText.size());
    AppendFolded(folded, aText);
    return folded;
}

// Cuts valid UTF-8 to aMaxChars code points without splitting a character.
std::string_view CutToChars(std::string_view aText, std::size_t aMaxChars)
{
    std::size_t chars = 0;
    for (std::size_t i = 0; i < aText.size(); ++i) {
        if ((static_cast<unsigned char>(aText[i]) & 0xC0) != 0x80) {  // a character starts here
            if (chars == aMaxChars)
                return aText.substr(0, i);
            ++chars;
        }
    }
    return aText;
}

std::string_view Unquoted(std::string_view aValue)
{
    if (aValue.size() >= 2 && (aValue.front() == '"' || aValue.front() == '\'')
        && aValue.back() == aValue.front())
        return aValue.substr(1, aValue.size() - 2);
    return aValue;
}

// Calls aOnSection(name) for every section line and aOnKey(key, value) for
// every key line inside a section, in file order; both views point into aText.
template <typename OnSection, typename OnKey>
void ScanLines(std::string_view aText, OnSection&& aOnSection, OnKey&& aOnKey)
{
    bool inSection = false;  // keys before the first section belong to none
    std::size_t pos = 0;
    while (pos < aText.size()) {
        std::size_t end = aText.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = aText.size();
        std::string_view line = aText.substr(pos, end - pos);
        pos = end + (aText.compare(end, 2, "\r\n") == 0 ? 2 : 1);

        // A NUL ends the line's text: no name or value may hold one, since the
        // values end up in paths and addresses.
        line = line.substr(0, line.find('\0'));
        while (!line.empty() && IsSpaceOrTab(line.front()))
            line.remove_prefix(1);
        if (line.empty() || line.front() == ';')
            continue;

        if (line.front() == '[') {
            const std::string_view name = line.substr(1);
            aOnSection(TrimSpacesAndTabs(name.substr(0, name.find(']'))));
            inSection = true;
            continue;
        }

        const std::size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos)
            continue;
        const std::string_view key = TrimSpacesAndTabs(line.substr(0, equals));
        if (!key.empty())
            aOnKey(key, CutToChars(Unquoted(TrimSpacesAndTabs(line.substr(equals + 1))),
                                   TIniReader::kMaxValueChars));
    }
}

}  // namespace

TIniReader::TIniReader(const std::string& aFileName)
{
    std::string bytes = ReadFileBytes(aFileName, kMaxFileBytes, mTruncated);
    mText = DecodeInfoText(std::move(bytes), mTruncated);
    Parse();
}

TIniReader TIniReader::FromBytes(std::string aBytes)
{
    TIniReader reader;
    reader.mTruncated = aBytes.size() > kMaxFileBytes;
    if (reader.mTruncated)
        aBytes.resize(kMaxFileBytes);
    reader.mText = DecodeInfoText(std::move(aBytes), reader.mTruncated);
    reader.Parse();
    return reader;
}

TIniReader TIniReader::FromDescriptor(int aFd)
{
    TIniReader reader;
    std::string bytes = ReadDescriptorBytes(aFd, kMaxFileBytes, reader.mTruncated);
    reader.mText = DecodeInfoText(std::move(bytes), reader.mTruncated);
    reader.Parse();
    return reader;
}

std::string TIniReader::ReadBytes(const std::string& aFileName, bool& aMore, std::size_t aLimit)
{
    return ReadFileBytes(aFileName, aLimit, aMore);
}

void TIniReader::Parse()
{
    // The decoded text is at most three bytes per file byte (Windows-1252 to
    // UTF-8), far inside 32-bit offsets at the size limit.
    static_assert(kMaxFileBytes * 3 < std::numeric_limits<std::uint32_t>::max());
    const std::string_view text = mText;

    // A first pass sizes both stores exactly: grown by doubling, a file of
    // many tiny keys would briefly need twice the memory.
    std::size_t keys = 0, nameBytes = 0;
    ScanLines(
        text, [&](std::string_view aName) { nameBytes += aName.size(); },
        [&](std::string_view aKey, std::string_view) {
            ++keys;
            nameBytes += aKey.size();  // folding keeps the length in bytes
        });
    mEntries.reserve(keys);
    mNames.reserve(nameBytes);

    std::uint32_t sectionPos = 0, sectionLength = 0;
    ScanLines(
        text,
        [&](std::string_view aName) {
            sectionPos = static_cast<std::uint32_t>(mNames.size());
            AppendFolded(mNames, aName);
            sectionLength = static_cast<std::uint32_t>(mNames.size()) - sectionPos;
        },
        [&](std::string_view aKey, std::string_view aValue) {
            TEntry entry{};
            entry.sectionPos = sectionPos;
            entry.sectionLength = sectionLength;
            entry.keyPos = static_cast<std::uint32_t>(mNames.size());
            AppendFolded(mNames, aKey);
            entry.keyLength = static_cast<std::uint32_t>(mNames.size()) - entry.keyPos;
            entry.valuePos = static_cast<std::uint32_t>(aValue.data() - text.data());
            entry.valueLength = static_cast<std::uint32_t>(aValue.size());
            mEntries.push_back(entry);
        });

    // Entries were made in file order, so the value offset breaks ties in
    // favour of the first occurrence, which is the one that must win.
    const std::string_view names = mNames;
    std::sort(mEntries.begin(), mEntries.end(), [names](const TEntry& aLeft, const TEntry& aRight) {
        return std::tuple(NameOf(names, aLeft), aLeft.valuePos)
               < std::tuple(NameOf(names, aRight), aRight.valuePos);
    });
    const auto last =
        std::unique(mEntries.begin(), mEntries.end(), [names](const TEntry& aLeft, const TEntry& aRight) {
            return NameOf(names, aLeft) == NameOf(names, aRight);
        });
    mEntries.erase(last, mEntries.end());
    mEntries.shrink_to_fit();
    mNames.shrink_to_fit();
}

const TIniReader::TEntry* TIniReader::Find(std::string_view aSection, std::string_view aKey) const
{
    // The engine passes ASCII literals, but a name from elsewhere may not be valid UTF-8.
    const std::string section = Folded(AnsiToUtf8(TrimSpacesAndTabs(aSection)));
    const std::string key = Folded(AnsiToUtf8(TrimSpacesAndTabs(aKey)));
    const auto wanted = std::pair(std::string_view(section), std::string_view(key));
    const auto found = std::lower_bound(
        mEntries.begin(), mEntries.end(), wanted,
        [this](const TEntry& aEntry, const auto& aWanted) { return NameOf(mNames, aEntry) < aWanted; });
    if (found == mEntries.end() || NameOf(mNames, *found) != wanted)
        return nullptr;
    return &*found;
}

std::string TIniReader::ReadString(std::string_view aSection, std::string_view aKey,
                                   std::string_view aDefault) const
{
    if (const TEntry* entry = Find(aSection, aKey))
        return mText.substr(entry->valuePos, entry->valueLength);
    while (!aDefault.empty() && IsSpaceOrTab(aDefault.back()))
        aDefault.remove_suffix(1);
    return std::string(aDefault);
}

bool TIniReader::ValueExists(std::string_view aSection, std::string_view aKey) const
{
    return Find(aSection, aKey) != nullptr;
}

bool TIniReader::SectionHasKeys(std::string_view aSection) const
{
    const std::string section = Folded(AnsiToUtf8(TrimSpacesAndTabs(aSection)));
    const auto wanted = std::pair(std::string_view(section), std::string_view());
    const auto found = std::lower_bound(
        mEntries.begin(), mEntries.end(), wanted,
        [this](const TEntry& aEntry, const auto& aWanted) { return NameOf(mNames, aEntry) < aWanted; });
    return found != mEntries.end() && NameOf(mNames, *found).first == section;
}

double TIniReader::ReadFloat(std::string_view aSection, std::string_view aKey) const
{
    const TEntry* entry = Find(aSection, aKey);
    if (!entry)
        return 0;
    bool ok = false;
    const double value = StrToFloatWithSeparator(
        std::string_view(mText).substr(entry->valuePos, entry->valueLength), UserDecimalSeparator(), ok);
    return ok ? value : 0;
}

double StrToFloatWithSeparator(std::string_view aText, char aDecimalSeparator, bool& aOk)
{
    aOk = false;
    const std::string_view text = TrimSpacesAndTabs(aText);
    // Rewritten with "." for from_chars, which ignores every locale.
    std::string number;
    number.reserve(text.size());
    std::size_t i = 0;
    const auto isDigit = [&](std::size_t aAt) {
        return aAt < text.size() && text[aAt] >= '0' && text[aAt] <= '9';
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-')
            number += '-';
        ++i;
    }
    bool digits = false, separator = false;
    for (; i < text.size(); ++i) {
        if (isDigit(i)) {
            number += text[i];
            digits = true;
        } else if (text[i] == aDecimalSeparator && !separator) {
            number += '.';
            separator = true;
        } else {
            break;
        }
    }
    if (!digits)
        return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        number += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            number += text[i++];
        if (!isDigit(i))
            return 0;
        while (isDigit(i))
            number += text[i++];
    }
    if (i != text.size())
        return 0;
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size())
        return 0;
    aOk = true;
    return value;
}

char UserDecimalSeparator()
{
    try {
        const char separator = std::use_facet<std::numpunct<char>>(std::locale("")).decimal_point();
        // A separator that could be part of a number's other parts would make
        // every number ambiguous.
        if (separator > ' ' && separator < 0x7F && !(separator >= '0' && separator <= '9') && separator != '+'
            && separator != '-' && separator != 'e' && separator != 'E')
            return separator;
    } catch (const std::runtime_error&) {
        // The environment names a locale this system does not have.
    }
    return '.';
}
