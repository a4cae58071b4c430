#include "transfer/url_text.h"

#include "platform/text.h"

namespace {

bool MustEncode(unsigned char aByte)
{
    return aByte <= 0x20 || aByte >= 0x7F || aByte == '"' || aByte == '<' || aByte == '>' || aByte == '`'
           || aByte == '{' || aByte == '}' || aByte == '|' || aByte == '\\' || aByte == '^';
}

}  // namespace

std::string NormalizeAddress(std::string_view aAddress)
{
    std::string text;
    for (char c : TrimControl(aAddress))
        if (c != '\t' && c != '\r' && c != '\n')
            text += c;

    const auto scheme = text.find("://");
    if (scheme == std::string::npos)
        return text;  // a local path: its bytes are the file's name
    const auto pathStart = text.find('/', scheme + 3);
    if (pathStart == std::string::npos)
        return text;

    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string result = text.substr(0, pathStart);
    for (std::size_t i = pathStart; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (MustEncode(byte)) {
            result += '%';
            result += kHex[byte >> 4];
            result += kHex[byte & 0x0F];
        } else {
            result += text[i];
        }
    }
    return result;
}
