#pragma once
// Text rules shared by every layer. Texts are UTF-8 std::string throughout.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// True when every byte is a space or a control character (code 32 or less);
// an empty text is blank too.
bool IsBlank(std::string_view aText);

// Removes leading and trailing characters of code 32 or less.
std::string TrimControl(std::string_view aText);

bool IsSpaceOrTab(char aChar);

// 'A'..'Z' lowered; every other byte as it is.
char LowerAscii(char aChar);

// Removes leading and trailing spaces and tabs only (the blanks of INI and
// registry export lines).
std::string_view TrimSpacesAndTabs(std::string_view aText);

// The decimal number aText starts with, removed from aText; nothing, and
// aText as it was, when it starts with no digit or the number does not fit
// 64 bits. Server and file text: no sign, no blanks, no other base.
std::optional<std::uint64_t> TakeDecimal(std::string_view& aText);
// aText as a decimal number of digits only; nothing for anything else.
std::optional<std::uint64_t> WholeDecimal(std::string_view aText);

bool IsValidUtf8(std::string_view aBytes);

// aText begins with aLowerPrefix, comparing ASCII letters without regard to
// case (schemes, header names). aLowerPrefix must be in lower case.
bool StartsWithNoCase(std::string_view aText, std::string_view aLowerPrefix);

// Bytes from outside (info files, server replies, built-in resources) carry no
// encoding tag: they are UTF-8 when they are valid UTF-8, else Windows-1252.
// Returns UTF-8.
std::string AnsiToUtf8(std::string_view aBytes);

// Control characters: C0 (below 0x20), DEL, C1 (U+0080 to U+009F, two bytes
// in UTF-8) and the bidirectional controls (U+200E, U+200F, U+202A to U+202E,
// U+2066 to U+2069), read the way AnsiToUtf8 reads the bytes. Any of them can
// move a terminal's cursor, start an escape sequence or turn text around.
bool HasControlCharacter(std::string_view aBytes);

// aBytes as UTF-8 (AnsiToUtf8) with every control character as "?": fit for
// a terminal or a log, whatever a server sent.
std::string PrintableText(std::string_view aBytes);

// Unpaired surrogates become U+FFFD.
// Appends aCode (a Unicode scalar value) in UTF-8.
void AppendUtf8(std::string& aOut, char32_t aCode);
std::string Utf16ToUtf8(std::u16string_view aText);
std::u16string Utf8ToUtf16(std::string_view aText);
