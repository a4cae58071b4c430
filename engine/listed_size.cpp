#include "engine/listed_size.h"

#include <limits>
#include <stdexcept>

#include "platform/text.h"

std::optional<std::uint64_t> ListedSize(const TIniReader& aIni, const std::string& aKey,
                                        const std::string& aName)
{
    const std::string text = aIni.ReadString(kSizeSection, aKey, "");
    if (text.empty())
        return std::nullopt;
    std::uint64_t size = 0;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (const char c : text) {
        if (c < '0' || c > '9' || size > (kMax - static_cast<std::uint64_t>(c - '0')) / 10)
            throw std::runtime_error("refusing the size of " + aName + ": \"" + TrimControl(text)
                                     + "\" is not a whole number of bytes");
        size = size * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return size;
}
