#include "platform/text.h"

#include <array>
#include <cstdint>

namespace {

bool IsControlOrSpace(char aChar)
{
    return static_cast<unsigned char>(aChar) <= 0x20;
}

// Windows-1252 bytes 0x80 to 0x9F; the five unassigned ones map to the C1
// controls of the same number, as the platform's own conversion does.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

void AppendUtf8(std::string& aOut, char32_t aCode)
{
    if (aCode < 0x80) {
        aOut += static_cast<char>(aCode);
    } else if (aCode < 0x800) {
        aOut += static_cast<char>(0xC0 | (aCode >> 6));
        aOut += static_cast<char>(0x80 | (aCode & 0x3F));
    } else if (aCode < 0x10000) {
        aOut += static_cast<char>(0xE0 | (aCode >> 12));
        aOut += static_cast<char>(0x80 | ((aCode >> 6) & 0x3F));
        aOut += static_cast<char>(0x80 | (aCode & 0x3F));
    } else {
        aOut += static_cast<char>(0xF0 | (aCode >> 18));
        aOut += static_cast<char>(0x80 | ((aCode >> 12) & 0x3F));
        aOut += static_cast<char>(0x80 | ((aCode >> 6) & 0x3F));
        aOut += static_cast<char>(0x80 | (aCode & 0x3F));
    }
}

bool IsBlank(std::string_view aText)
{
    for (char c : aText)
        if (!IsControlOrSpace(c))
            return false;
    return true;
}

std::string TrimControl(std::string_view aText)
{
    std::size_t first = 0;
    std::size_t last = aText.size();
    while (first < last && IsControlOrSpace(aText[first]))
        ++first;
    while (last > first && IsControlOrSpace(aText[last - 1]))
        --last;
    return std::string(aText.substr(first, last - first));
}

bool IsSpaceOrTab(char aChar)
{
    return aChar == ' ' || aChar == '\t';
}

std::string_view TrimSpacesAndTabs(std::string_view aText)
{
    while (!aText.empty() && IsSpaceOrTab(aText.front()))
        aText.remove_prefix(1);
    while (!aText.empty() && IsSpaceOrTab(aText.back()))
        aText.remove_suffix(1);
    return aText;
}

char LowerAscii(char aChar)
{
    return (aChar >= 'A' && aChar <= 'Z') ? static_cast<char>(aChar - 'A' + 'a') : aChar;
}

bool StartsWithNoCase(std::string_view aText, std::string_view aLowerPrefix)
{
    if (aText.size() < aLowerPrefix.size())
        return false;
    for (std::size_t i = 0; i < aLowerPrefix.size(); ++i)
        if (LowerAscii(aText[i]) != aLowerPrefix[i])
            return false;
    return true;
}

std::optional<std::uint64_t> TakeDecimal(std::string_view& aText)
{
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; digits < aText.size() && aText[digits] >= '0' && aText[digits] <= '9'; ++digits) {
        const auto digit = static_cast<std::uint64_t>(aText[digits] - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (digits == 0)
        return std::nullopt;
    aText.remove_prefix(digits);
    return value;
}

std::optional<std::uint64_t> WholeDecimal(std::string_view aText)
{
    const auto value = TakeDecimal(aText);
    return value && aText.empty() ? value : std::nullopt;
}

bool IsValidUtf8(std::string_view aBytes)
{
    std::size_t i = 0;
    const std::size_t n = aBytes.size();
    while (i < n) {
        const auto lead = static_cast<unsigned char>(aBytes[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        char32_t code;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (n - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(aBytes[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and codes past U+10FFFF are not UTF-8.
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000)
            || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

std::string AnsiToUtf8(std::string_view aBytes)
{
    if (IsValidUtf8(aBytes))
        return std::string(aBytes);
    std::string out;
    out.reserve(aBytes.size() + aBytes.size() / 2);
    for (char c : aBytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80)
            out += c;
        else if (byte < 0xA0)
            AppendUtf8(out, kCp1252High[byte - 0x80]);
        else
            AppendUtf8(out, byte);
    }
    return out;
}

namespace {

// The bidirectional controls: marks (U+200E, U+200F), embeddings and
// overrides (U+202A to U+202E) and isolates (U+2066 to U+2069). A terminal
// obeys them, so a name can show its letters in another order than they are.
bool IsBidiControl(unsigned char aSecond, unsigned char aThird)
{
    if (aSecond == 0x80)
        return aThird == 0x8E || aThird == 0x8F || (aThird >= 0xAA && aThird <= 0xAE);
    return aSecond == 0x81 && aThird >= 0xA6 && aThird <= 0xA9;
}

// The length of the control character at aText[aAt] of UTF-8 text, or 0.
std::size_t ControlLength(std::string_view aText, std::size_t aAt)
{
    const auto byte = static_cast<unsigned char>(aText[aAt]);
    if (byte < 0x20 || byte == 0x7F)
        return 1;
    if (byte == 0xC2 && aAt + 1 < aText.size() && static_cast<unsigned char>(aText[aAt + 1]) < 0xA0)
        return 2;
    if (byte == 0xE2 && aAt + 2 < aText.size()
        && IsBidiControl(static_cast<unsigned char>(aText[aAt + 1]),
                         static_cast<unsigned char>(aText[aAt + 2])))
        return 3;
    return 0;
}

}  // namespace

bool HasControlCharacter(std::string_view aBytes)
{
    const std::string text = AnsiToUtf8(aBytes);
    for (std::size_t i = 0; i < text.size(); ++i)
        if (ControlLength(text, i) > 0)
            return true;
    return false;
}

std::string PrintableText(std::string_view aBytes)
{
    const std::string text = AnsiToUtf8(aBytes);
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (const std::size_t length = ControlLength(text, i); length > 0) {
            result += '?';
            i += length - 1;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::string Utf16ToUtf8(std::u16string_view aText)
{
    std::string out;
    out.reserve(aText.size());
    for (std::size_t i = 0; i < aText.size(); ++i) {
        char32_t code = aText[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < aText.size() && aText[i + 1] >= 0xDC00
            && aText[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (aText[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        AppendUtf8(out, code);
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view aText)
{
    const std::string valid = AnsiToUtf8(aText);
    std::u16string out;
    out.reserve(valid.size());
    std::size_t i = 0;
    while (i < valid.size()) {
        const auto lead = static_cast<unsigned char>(valid[i]);
        char32_t code;
        std::size_t length;
        if (lead < 0x80) {
            code = lead;
            length = 1;
        } else if (lead < 0xE0) {
            code = lead & 0x1F;
            length = 2;
        } else if (lead < 0xF0) {
            code = lead & 0x0F;
            length = 3;
        } else {
            code = lead & 0x07;
            length = 4;
        }
        for (std::size_t k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<unsigned char>(valid[i + k]) & 0x3F);
        i += length;
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
    }
    return out;
}
