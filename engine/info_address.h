#pragma once
// Pure text helpers for the info file's address and its local name, and the
// version texts the info file carries. No file or network access.

#include <cstdint>
#include <string>

// The number of a version text such as "2.15" (215): the dots dropped, then
// read as a whole number, with a sign, "$" or "0x" for hex, and leading
// blanks allowed. Throws std::invalid_argument when that is not a whole
// number that fits.
std::int32_t VersionToInt(const std::string& aVersion);

// True when aAddress holds a "/", and so names something on a server rather
// than a bare file name; aConverted gets the address with every "\" turned
// into "/".
bool IsURL(const std::string& aAddress, std::string& aConverted);

// The last non-empty segment of an address, where "/" and line breaks
// separate segments outside quotes; the address itself when it has none.
std::string ExtractURLFileName(const std::string& aAddress);

// The plain file name under which the info file at aAddress is kept in the
// private folder: its last component without control characters, or
// "info.ini" when that is no safe name.
std::string InfoFileLocalName(const std::string& aAddress);
