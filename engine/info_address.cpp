#include "engine/info_address.h"

#include <stdexcept>
#include <vector>

#include "engine/safe_path.h"
#include "platform/text.h"

std::int32_t VersionToInt(const std::string& aVersion)
{
    std::string digits;
    for (char c : aVersion)
        if (c != '.')
            digits += c;

    std::size_t i = 0;
    while (i < digits.size() && (digits[i] == ' ' || digits[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < digits.size() && (digits[i] == '+' || digits[i] == '-'))
        negative = digits[i++] == '-';
    int base = 10;
    if (i < digits.size() && digits[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < digits.size() && digits[i] == '0' && (digits[i + 1] == 'x' || digits[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == digits.size())
        throw std::invalid_argument("'" + aVersion + "' is not a valid integer value");

    std::int64_t value = 0;
    const std::int64_t limit = base == 16 ? 0xFFFFFFFFLL : 0x80000000LL;
    for (; i < digits.size(); ++i) {
        const char c = digits[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            throw std::invalid_argument("'" + aVersion + "' is not a valid integer value");
        value = value * base + digit;
        if (value > limit)
            throw std::invalid_argument("'" + aVersion + "' is not a valid integer value");
    }
    if (base == 10 && !negative && value > 0x7FFFFFFFLL)
        throw std::invalid_argument("'" + aVersion + "' is not a valid integer value");
    const auto result = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    return negative ? static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(result)) : result;
}

bool IsURL(const std::string& aAddress, std::string& aConverted)
{
    aConverted = aAddress;
    if (aAddress.find('/') == std::string::npos)
        return false;
    for (char& c : aConverted)
        if (c == '\\')
            c = '/';
    return true;
}

std::string ExtractURLFileName(const std::string& aAddress)
{
    std::vector<std::string> segments;
    std::string current;
    char quote = 0;
    auto flush = [&] {
        std::size_t skip = 0;
        while (skip < current.size() && (current[skip] == '\r' || current[skip] == '\n'))
            ++skip;
        current.erase(0, skip);
        if (!current.empty())
            segments.push_back(current);
        current.clear();
    };
    for (char c : aAddress) {
        if (quote != 0) {
            current += c;
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
            current += c;
        } else if (c == '/' || c == '\r' || c == '\n') {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    return segments.empty() ? aAddress : segments.back();
}

std::string InfoFileLocalName(const std::string& aAddress)
{
    std::string converted;
    std::string name;
    if (IsURL(aAddress, converted)) {
        name = ExtractURLFileName(converted);
    } else {
        const auto cut = aAddress.find_last_of("\\:");
        name = cut == std::string::npos ? aAddress : aAddress.substr(cut + 1);
    }
    // The name comes from the server: keep only its last component, so that
    // the copy stays inside the private folder.
    if (const auto slash = name.find_last_of('/'); slash != std::string::npos)
        name = name.substr(slash + 1);
    name = TrimControl(name);
    if (!IsPlainFileName(name))
        name = "info.ini";
    return name;
}
