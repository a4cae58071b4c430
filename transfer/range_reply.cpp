#include "transfer/range_reply.h"

#include "platform/text.h"

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
    if (!aEtag.empty())
        return StartsWithNoCase(aEtag, "w/") || !IsUsableValidator(aEtag) ? "" : std::string(aEtag);
    return IsUsableValidator(aLastModified) ? std::string(aLastModified) : "";
}

std::optional<std::uint64_t> RangeStart(std::string_view aContentRange)
{
    constexpr std::string_view kUnit = "bytes ";
    if (!StartsWithNoCase(aContentRange, kUnit))
        return std::nullopt;
    const std::string_view rest = aContentRange.substr(kUnit.size());
    const auto dash = rest.find('-');
    const auto slash = rest.find('/');
    if (dash == 0 || dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : rest.substr(0, dash)) {
        if (c < '0' || c > '9' || value > (UINT64_MAX - 9) / 10)
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}
