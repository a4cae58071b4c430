#include "transfer/range_reply.h"

#include "platform/text.h"

namespace {

// An entity tag as RFC 9110 writes it: a quoted string of visible bytes
// (obs-text included) without a quote inside.
bool IsQuotedTag(std::string_view aTag)
{
    if (aTag.size() < 2 || aTag.front() != '"' || aTag.back() != '"')
        return false;
    for (const char c : aTag.substr(1, aTag.size() - 2)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == '"' || byte == 0x7F)
            return false;
    }
    return true;
}

bool TakeChar(std::string_view& aText, char aChar)
{
    if (aText.empty() || aText.front() != aChar)
        return false;
    aText.remove_prefix(1);
    return true;
}

}  // namespace

bool IsUsableValidator(std::string_view aText)
{
    constexpr std::size_t kMaxValidator = 512;
    if (aText.empty() || aText.size() > kMaxValidator)
        return false;
    for (const char c : aText)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return true;
}

std::string RangeValidator(std::string_view aEtag, std::string_view aLastModified)
{
    if (StartsWithNoCase(aEtag, "w/"))
        return "";  // a weak tag may not guard a range, and it rules out the date
    if (IsQuotedTag(aEtag))
        return IsUsableValidator(aEtag) ? std::string(aEtag) : "";
    return IsUsableValidator(aLastModified) ? std::string(aLastModified) : "";
}

std::optional<TContentRange> ParseContentRange(std::string_view aContentRange)
{
    constexpr std::string_view kUnit = "bytes ";
    if (!StartsWithNoCase(aContentRange, kUnit))
        return std::nullopt;
    std::string_view rest = aContentRange.substr(kUnit.size());
    TContentRange range;
    const auto first = TakeDecimal(rest);
    if (!first || !TakeChar(rest, '-'))
        return std::nullopt;
    const auto last = TakeDecimal(rest);
    if (!last || !TakeChar(rest, '/'))
        return std::nullopt;
    range.first = *first;
    range.last = *last;
    if (rest != "*") {
        range.total = TakeDecimal(rest);
        if (!range.total || !rest.empty())
            return std::nullopt;
    }
    if (range.first > range.last || (range.total && range.last >= *range.total))
        return std::nullopt;
    return range;
}

bool IsPartialReplyFrom(std::string_view aContentRange, std::uint64_t aStart,
                        std::optional<std::uint64_t> aBodyLength)
{
    const auto range = ParseContentRange(aContentRange);
    if (!range || range->first != aStart)
        return false;
    if (range->total && range->last != *range->total - 1)
        return false;
    // Compared without adding 1, which would wrap at LAST = 2^64 - 1.
    return !aBodyLength || (*aBodyLength > 0 && range->last - range->first == *aBodyLength - 1);
}
