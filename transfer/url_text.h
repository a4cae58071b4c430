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

// "scheme://..." as RFC 3986 spells a scheme; anything else is a local path.
bool HasScheme(std::string_view aAddress);

// An http or https address, in any case.
bool IsWebAddress(std::string_view aAddress);

// The file:// address of a local path, made absolute. curl decodes %XX in a
// file:// path, so every byte that could be read as syntax ('%', '#', '?',
// spaces, non-ASCII) is encoded; the path's bytes reach the file system
// unchanged, "." and ".." segments too (transfers of such an address set
// CURLOPT_PATH_AS_IS), so that a link inside is followed as the kernel does.
std::string LocalPathToFileUrl(const std::string& aPath);

// The local path a file:// address names, "." and ".." segments kept; ""
// when it cannot be read or holds a control byte (%00 to %1F, %7F).
std::string LocalPathOf(const std::string& aFileUrl);

// Whether a redirect from aFrom to aTo gives up TLS (https to anything else).
// Every fetch refuses such a redirect: anyone on the path could read and
// change what the plain address gives.
bool LosesTls(std::string_view aFrom, std::string_view aTo);

// The reason a fetch gives for refusing such a redirect to aTarget.
std::string RefusedRedirectText(const std::string& aTarget);

// Whether an info file read from aInfoAddress may name aLocation as a place
// to fetch files from: one that came from the web names web addresses only,
// so that no server can have the user's own files copied; a local one may
// name local folders too.
bool IsLocationAllowed(std::string_view aInfoAddress, std::string_view aLocation);

// The reason given for a location IsLocationAllowed refuses.
std::string LocationRefusedText(std::string_view aLocation);

// The host part of an address; "" when it cannot be read.
std::string HostOf(const std::string& aAddress);

// A Location value made absolute against the address it came from
// (RFC 3986 section 5); "" when it cannot be read.
std::string ResolveReference(const std::string& aBase, std::string_view aReference);
