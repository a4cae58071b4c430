#pragma once
// Bytes as hex digits and hex digits as values: digests, key ids and the
// settings file's hex data all use the one pair.

#include <cstddef>
#include <cstdint>
#include <string>

enum class THexCase { Upper, Lower };

// 0 to 15, or -1 for a character that is no hex digit.
inline int HexDigitValue(char aChar)
{
    if (aChar >= '0' && aChar <= '9')
        return aChar - '0';
    if (aChar >= 'a' && aChar <= 'f')
        return aChar - 'a' + 10;
    if (aChar >= 'A' && aChar <= 'F')
        return aChar - 'A' + 10;
    return -1;
}

// Two digits per byte, in the order given.
inline std::string HexText(const std::uint8_t* aBytes, std::size_t aSize, THexCase aCase)
{
    const char* const digits = aCase == THexCase::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    text.reserve(2 * aSize);
    for (std::size_t i = 0; i < aSize; ++i) {
        text += digits[aBytes[i] >> 4];
        text += digits[aBytes[i] & 15];
    }
    return text;
}
