#include "platform/registry_hive.h"

#include <algorithm>

#include "components/hex_text.h"
#include "components/text_lines.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
// Hex data is wrapped before this column, as the registry editor does, so
// that the file stays readable in a terminal.
constexpr std::size_t kHexLineWidth = 76;

// 1 to 8 hex digits; false when anything else is there.
bool ParseHexNumber(std::string_view aText, std::uint32_t& aNumber)
{
    if (aText.empty() || aText.size() > 8)
        return false;
    aNumber = 0;
    for (char c : aText) {
        const int digit = HexDigitValue(c);
        if (digit < 0)
            return false;
        aNumber = (aNumber << 4) | static_cast<std::uint32_t>(digit);
    }
    return true;
}

std::string DecodeFile(std::string_view aBytes)
{
    if (aBytes.size() >= 2 && static_cast<unsigned char>(aBytes[0]) == 0xFF
        && static_cast<unsigned char>(aBytes[1]) == 0xFE) {
        std::u16string units;
        units.reserve(aBytes.size() / 2);
        for (std::size_t i = 2; i + 1 < aBytes.size(); i += 2)
            units += static_cast<char16_t>(static_cast<unsigned char>(aBytes[i])
                                           | (static_cast<unsigned char>(aBytes[i + 1]) << 8));
        return Utf16ToUtf8(units);
    }
    if (aBytes.size() >= 3 && aBytes.substr(0, 3) == "\xEF\xBB\xBF")
        aBytes.remove_prefix(3);
    return AnsiToUtf8(aBytes);
}

// Reads a quoted text with the editor's two escapes (\\ and \") from the start
// of aText and removes it from aText. A backslash before any other character
// stays, as the editor keeps it.
bool ParseQuoted(std::string_view& aText, std::string& aOut)
{
    if (aText.empty() || aText.front() != '"')
        return false;
    aOut.clear();
    for (std::size_t i = 1; i < aText.size(); ++i) {
        const char c = aText[i];
        if (c == '"') {
            aText.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\' && i + 1 < aText.size() && (aText[i + 1] == '\\' || aText[i + 1] == '"')) {
            aOut += aText[++i];
            continue;
        }
        aOut += c;
    }
    return false;
}

std::string Quote(std::string_view aText)
{
    std::string out = "\"";
    for (char c : aText) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

bool ParseHexBytes(std::string_view aText, std::vector<std::uint8_t>& aData)
{
    aData.clear();
    aText = TrimSpacesAndTabs(aText);
    if (aText.empty())
        return true;
    while (true) {
        const std::size_t comma = aText.find(',');
        const std::string_view item = TrimSpacesAndTabs(aText.substr(0, comma));
        std::uint32_t byte = 0;
        if (item.size() > 2 || !ParseHexNumber(item, byte))
            return false;
        aData.push_back(static_cast<std::uint8_t>(byte));
        if (comma == std::string_view::npos)
            return true;
        aText.remove_prefix(comma + 1);
        if (TrimSpacesAndTabs(aText).empty())
            return true;  // a trailing comma before a line continuation
    }
}

TRegValue ParseValueData(std::string_view aText, std::size_t aLine)
{
    TRegValue value;
    std::string text;
    if (!aText.empty() && aText.front() == '"') {
        if (!ParseQuoted(aText, text))
            throw HiveFormatError(aLine, "unterminated text");
        if (!TrimSpacesAndTabs(aText).empty())
            throw HiveFormatError(aLine, "unexpected text after the value");
        return MakeTextValue(text);
    }
    if (aText == "-")
        throw HiveFormatError(aLine, "value deletion is not supported here");
    if (aText.substr(0, 6) == "dword:") {
        std::uint32_t number = 0;
        if (!ParseHexNumber(TrimSpacesAndTabs(aText.substr(6)), number))
            throw HiveFormatError(aLine, "bad dword value");
        return MakeDwordValue(number);
    }
    if (aText.substr(0, 3) != "hex")
        throw HiveFormatError(aLine, "unknown value type");
    aText.remove_prefix(3);
    value.type = REG_BINARY;
    if (!aText.empty() && aText.front() == '(') {
        const std::size_t close = aText.find(')');
        if (close == std::string_view::npos || !ParseHexNumber(aText.substr(1, close - 1), value.type))
            throw HiveFormatError(aLine, "bad value type number");
        aText.remove_prefix(close + 1);
    }
    if (aText.empty() || aText.front() != ':')
        throw HiveFormatError(aLine, "unknown value type");
    if (!ParseHexBytes(aText.substr(1), value.data))
        throw HiveFormatError(aLine, "bad hex data");
    return value;
}

// A REG_SZ that the quoted form carries without loss: one NUL at the end and
// none before, no line break, and UTF-16 that survives the trip to UTF-8.
bool FitsQuotedForm(const TRegValue& aValue)
{
    const auto& data = aValue.data;
    if (aValue.type != REG_SZ || data.size() < 2 || data.size() % 2 != 0)
        return false;
    std::u16string units;
    for (std::size_t i = 0; i < data.size(); i += 2)
        units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (units.back() != 0)
        return false;
    units.pop_back();
    if (units.find_first_of(std::u16string_view(u"\0\r\n", 3)) != std::u16string::npos)
        return false;
    return Utf8ToUtf16(Utf16ToUtf8(units)) == units;
}

void AppendHex(std::string& aOut, std::string aPrefix, const std::vector<std::uint8_t>& aData)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string line = std::move(aPrefix);
    for (std::size_t i = 0; i < aData.size(); ++i) {
        line += kDigits[aData[i] >> 4];
        line += kDigits[aData[i] & 0xF];
        if (i + 1 == aData.size())
            break;
        line += ',';
        if (line.size() >= kHexLineWidth) {
            aOut += line + "\\\n";
            line = "  ";
        }
    }
    aOut += line + '\n';
}

std::string FormatValueName(const std::string& aName)
{
    return aName.empty() ? std::string("@") : Quote(aName);
}

std::string ToHexType(std::uint32_t aType)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string digits;
    do {
        digits.insert(digits.begin(), kDigits[aType & 0xF]);
        aType >>= 4;
    } while (aType != 0);
    return digits;
}

void AppendValue(std::string& aOut, const std::string& aName, const TRegValue& aValue)
{
    const std::string name = FormatValueName(aName) + "=";
    if (FitsQuotedForm(aValue)) {
        aOut += name + Quote(TextOfValue(aValue)) + '\n';
    } else if (aValue.type == REG_DWORD && aValue.data.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) | aValue.data[static_cast<std::size_t>(i)];
        std::string digits = ToHexType(number);
        aOut += name + "dword:" + std::string(8 - digits.size(), '0') + digits + '\n';
    } else if (aValue.type == REG_BINARY) {
        AppendHex(aOut, name + "hex:", aValue.data);
    } else {
        AppendHex(aOut, name + "hex(" + ToHexType(aValue.type) + "):", aValue.data);
    }
}

bool IsUnderKey(std::string_view aPath, std::string_view aAncestor)
{
    return aPath.size() > aAncestor.size() && aPath[aAncestor.size()] == '\\'
           && SameRegistryName(aPath.substr(0, aAncestor.size()), aAncestor);
}

bool IsValidKeyName(std::string_view aPath)
{
    return !aPath.empty() && aPath.front() != '\\' && aPath.back() != '\\'
           && aPath.find("\\\\") == std::string_view::npos;
}

// Text is bytes, as file names are: a byte that is not part of valid UTF-8
// (a Latin-1 folder name) is kept as the lone surrogate U+DC80 to U+DCFF, so
// that it comes back as the same byte. No real text holds such a surrogate.
constexpr char16_t kByteEscape = 0xDC00;

std::size_t Utf8SequenceAt(std::string_view aText, std::size_t aAt)
{
    const auto lead = static_cast<unsigned char>(aText[aAt]);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xC2 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
    if (length == 0 || length > aText.size() - aAt || !IsValidUtf8(aText.substr(aAt, length)))
        return 0;
    return length;
}

std::u16string TextToUnits(std::string_view aText)
{
    std::u16string units;
    units.reserve(aText.size());
    std::size_t at = 0;
    while (at < aText.size()) {
        const std::size_t length = Utf8SequenceAt(aText, at);
        if (length == 0) {
            units += static_cast<char16_t>(kByteEscape + static_cast<unsigned char>(aText[at]));
            ++at;
            continue;
        }
        units += Utf8ToUtf16(aText.substr(at, length));
        at += length;
    }
    return units;
}

std::string UnitsToText(std::u16string_view aUnits)
{
    std::string text;
    std::size_t done = 0;
    for (std::size_t i = 0; i < aUnits.size(); ++i) {
        const char16_t unit = aUnits[i];
        const bool paired = i > 0 && aUnits[i - 1] >= 0xD800 && aUnits[i - 1] <= 0xDBFF;
        if (unit >= kByteEscape + 0x80 && unit <= kByteEscape + 0xFF && !paired) {
            text += Utf16ToUtf8(aUnits.substr(done, i - done));
            text += static_cast<char>(unit - kByteEscape);
            done = i + 1;
        }
    }
    return text + Utf16ToUtf8(aUnits.substr(done));
}

}  // namespace

TRegValue MakeTextValue(std::string_view aText, std::uint32_t aType)
{
    TRegValue value;
    value.type = aType;
    for (char16_t unit : TextToUnits(aText)) {
        value.data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        value.data.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    value.data.push_back(0);
    value.data.push_back(0);
    return value;
}

TRegValue MakeDwordValue(std::uint32_t aNumber)
{
    TRegValue value;
    value.type = REG_DWORD;
    for (int i = 0; i < 4; ++i)
        value.data.push_back(static_cast<std::uint8_t>(aNumber >> (8 * i)));
    return value;
}

std::string TextOfValue(const TRegValue& aValue)
{
    std::u16string units;
    for (std::size_t i = 0; i + 1 < aValue.data.size(); i += 2) {
        const auto unit = static_cast<char16_t>(aValue.data[i] | (aValue.data[i + 1] << 8));
        if (unit == 0)
            break;
        units += unit;
    }
    return UnitsToText(units);
}

bool SameRegistryName(std::string_view aLeft, std::string_view aRight)
{
    return std::equal(aLeft.begin(), aLeft.end(), aRight.begin(), aRight.end(),
                      [](char aA, char aB) { return LowerAscii(aA) == LowerAscii(aB); });
}

std::string FoldRegistryName(std::string_view aName)
{
    std::string folded(aName);
    for (char& c : folded)
        c = LowerAscii(c);
    return folded;
}

const TRegValue* TRegKey::Find(std::string_view aName) const
{
    const auto found = mIndex.find(FoldRegistryName(aName));
    return found == mIndex.end() ? nullptr : &mValues[found->second].second;
}

void TRegKey::Set(const std::string& aName, TRegValue aValue)
{
    const auto [place, added] = mIndex.try_emplace(FoldRegistryName(aName), mValues.size());
    if (!added) {
        mValues[place->second].second = std::move(aValue);
        return;
    }
    try {
        mValues.emplace_back(aName, std::move(aValue));
    } catch (...) {
        mIndex.erase(place);  // out of memory: leave the two in step
        throw;
    }
}

HiveFormatError::HiveFormatError(std::size_t aLine, const std::string& aReason)
    : std::runtime_error("line " + std::to_string(aLine) + ": " + aReason), mLine(aLine)
{
}

TRegistryHive TRegistryHive::Parse(std::string_view aBytes)
{
    const std::string text = DecodeFile(aBytes);
    const std::vector<std::string_view> lines = SplitLines(text);
    TRegistryHive hive;
    TRegKey* key = nullptr;
    bool headerSeen = false;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const std::size_t lineNumber = index + 1;
        std::string_view line = TrimSpacesAndTabs(lines[index]);
        if (line.empty() || (headerSeen && line.front() == ';'))
            continue;
        if (!headerSeen) {
            if (line != kHeader5 && line != kHeader4)
                throw HiveFormatError(lineNumber,
                                      "not a registry file (no \"" + std::string(kHeader5) + "\" line)");
            headerSeen = true;
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']')
                throw HiveFormatError(lineNumber, "unterminated key name");
            const std::string_view path = line.substr(1, line.size() - 2);
            if (!path.empty() && path.front() == '-')
                throw HiveFormatError(lineNumber, "key deletion is not supported here");
            if (!IsValidKeyName(path))
                throw HiveFormatError(lineNumber, "bad key name");
            key = &hive.CreateKey(path);
            continue;
        }
        if (line.front() != '"' && line.front() != '@')
            throw HiveFormatError(lineNumber, "unexpected text");
        if (key == nullptr)
            throw HiveFormatError(lineNumber, "value outside a key");
        std::string name;
        if (line.front() == '@')
            line.remove_prefix(1);
        else if (!ParseQuoted(line, name))
            throw HiveFormatError(lineNumber, "unterminated value name");
        line = TrimSpacesAndTabs(line);
        if (line.empty() || line.front() != '=')
            throw HiveFormatError(lineNumber, "\"=\" missing after the value name");
        line = TrimSpacesAndTabs(line.substr(1));
        // Hex data goes on over the following lines while a line ends in "\".
        std::string data(line);
        if (data.substr(0, 3) == "hex") {
            while (!data.empty() && data.back() == '\\') {
                data.pop_back();
                if (++index == lines.size())
                    throw HiveFormatError(lineNumber, "line continuation at the end of the file");
                data += TrimSpacesAndTabs(lines[index]);
            }
        }
        key->Set(name, ParseValueData(data, lineNumber));
    }
    return hive;
}

std::string TRegistryHive::Format() const
{
    std::string out(kHeader5);
    out += "\n\n";
    for (const TRegKey& key : mKeys) {
        out += "[" + key.Path() + "]\n";
        for (const auto& [name, value] : key.Values())
            AppendValue(out, name, value);
        out += '\n';
    }
    return out;
}

bool TRegistryHive::KeyExists(std::string_view aPath) const
{
    if (FindKey(aPath) != nullptr)
        return true;
    return std::any_of(mKeys.begin(), mKeys.end(),
                       [aPath](const TRegKey& aKey) { return IsUnderKey(aKey.Path(), aPath); });
}

const TRegKey* TRegistryHive::FindKey(std::string_view aPath) const
{
    const auto found = mIndex.find(FoldRegistryName(aPath));
    return found == mIndex.end() ? nullptr : &mKeys[found->second];
}

TRegKey& TRegistryHive::CreateKey(std::string_view aPath)
{
    const auto [place, added] = mIndex.try_emplace(FoldRegistryName(aPath), mKeys.size());
    if (!added)
        return mKeys[place->second];
    try {
        mKeys.emplace_back(std::string(aPath));
    } catch (...) {
        mIndex.erase(place);  // out of memory: leave the two in step
        throw;
    }
    return mKeys.back();
}
