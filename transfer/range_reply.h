#pragma once
// Reading what a server says about ranges: which of its validators may guard
// a later range request, and whether a reply is the partial reply asked for.
// Server text is never trusted: anything unexpected reads as "none".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Whether aText can go back to the server in an If-Range header: one line of
// visible text, and not so long that a server can make us send a novel.
bool IsUsableValidator(std::string_view aText);

// The validator that may guard a range request for a reply with these header
// values ("" when absent): a strong entity tag, else, when there is no
// entity tag at all or it is not a quoted string, the Last-Modified date
// (RFC 9110, If-Range). "" when neither may.
std::string RangeValidator(std::string_view aEtag, std::string_view aLastModified);

// A Content-Range value "bytes FIRST-LAST/TOTAL", TOTAL "*" when unknown.
struct TContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::optional<std::uint64_t> total;
};

// The value read whole, or nothing when any of it is not of that form or it
// does not hold together (FIRST > LAST, LAST >= TOTAL, a number past 64 bits).
std::optional<TContentRange> ParseContentRange(std::string_view aContentRange);

// Whether a 206 reply with this Content-Range is the rest of the file from
// aStart, as a request for "aStart-" asks: it starts at aStart, ends at the
// file's last byte when the total is given, and, when aBodyLength (the
// reply's Content-Length) is given, covers exactly that many bytes.
bool IsPartialReplyFrom(std::string_view aContentRange, std::uint64_t aStart,
                        std::optional<std::uint64_t> aBodyLength);
