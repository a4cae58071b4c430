#include "engine/listed_size.h"

#include <stdexcept>

#include "platform/text.h"

std::optional<std::uint64_t> ListedSize(const TIniReader& aIni, const std::string& aKey,
                                        const std::string& aName)
{
    const std::string text = aIni.ReadString(kSizeSection, aKey, "");
    if (text.empty())
        return std::nullopt;
    const std::optional<std::uint64_t> size = WholeDecimal(text);
    if (!size)
        throw std::runtime_error("refusing the size of " + aName + ": \"" + TrimControl(text)
                                 + "\" is not a whole number of bytes");
    return size;
}
