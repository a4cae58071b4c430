#pragma once
// Reading what a server says about ranges: which of its validators may guard
// a later range request, and where a partial reply starts. Server text is
// never trusted: anything unexpected reads as "none".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Whether aText can go back to the server in an If-Range header: one line of
// visible text, and not so long that a server can make us send a novel.
bool IsUsableValidator(std::string_view aText);

// The validator that may guard a range request for a reply with these header
// values ("" when absent): a strong entity tag, else, when there is no
// entity tag at all, the Last-Modified date (RFC 9110, If-Range). "" when
// neither may.
std::string RangeValidator(std::string_view aEtag, std::string_view aLastModified);

// FIRST of a Content-Range value "bytes FIRST-LAST/TOTAL" (TOTAL may be "*"),
// or nothing when the value is not of that form.
std::optional<std::uint64_t> RangeStart(std::string_view aContentRange);
