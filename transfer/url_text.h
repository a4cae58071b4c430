#pragma once
// Addresses as people and servers write them, made fit for curl.

#include <string>
#include <string_view>

// Removes leading and trailing spaces and control characters and any tab or
// line break inside (an info service may end its reply with a line break),
// and percent-encodes the bytes that cannot stand in a URL's path or query
// as they are (blanks, quotes, angle brackets, non-ASCII bytes), as browsers
// do. "%" is kept: the text may be encoded already. The host is left alone.
std::string NormalizeAddress(std::string_view aAddress);
