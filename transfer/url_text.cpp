#include "transfer/url_text.h"

#include <filesystem>
#include <memory>

#include <curl/curl.h>

#include "platform/text.h"

namespace {

struct CurlUrlDeleter {
    void operator()(CURLU* aHandle) const noexcept { curl_url_cleanup(aHandle); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

struct CurlStringDeleter {
    void operator()(char* aText) const noexcept { curl_free(aText); }
};
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

bool IsAsciiAlpha(char aChar)
{
    return (aChar >= 'a' && aChar <= 'z') || (aChar >= 'A' && aChar <= 'Z');
}

bool IsAsciiDigit(char aChar)
{
    return aChar >= '0' && aChar <= '9';
}

// Bytes a browser encodes in a path or query it is given.
bool MustEncodeInAddress(unsigned char aByte)
{
    return aByte <= 0x20 || aByte >= 0x7F || aByte == '"' || aByte == '<' || aByte == '>' || aByte == '`'
           || aByte == '{' || aByte == '}' || aByte == '|' || aByte == '\\' || aByte == '^';
}

// Bytes that could be read as syntax in a file:// path: all but the
// unreserved ones and the separator.
bool MustEncodeInFilePath(unsigned char aByte)
{
    const char c = static_cast<char>(aByte);
    return !(IsAsciiAlpha(c) || IsAsciiDigit(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~');
}

// Appends aText to aOut with every byte that aMustEncode picks written as %XX.
void AppendPercentEncoded(std::string& aOut, std::string_view aText, bool (*aMustEncode)(unsigned char))
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : aText) {
        const auto byte = static_cast<unsigned char>(c);
        if (aMustEncode(byte)) {
            aOut += '%';
            aOut += kHex[byte >> 4];
            aOut += kHex[byte & 0x0F];
        } else {
            aOut += c;
        }
    }
}

// One part of an address as curl reads it; "" when it cannot be read.
std::string UrlPart(const std::string& aAddress, CURLUPart aPart, unsigned int aFlags,
                    unsigned int aSetFlags = 0)
{
    CurlUrl url{curl_url()};
    if (!url || curl_url_set(url.get(), CURLUPART_URL, aAddress.c_str(), aSetFlags) != CURLUE_OK)
        return {};
    char* part = nullptr;
    if (curl_url_get(url.get(), aPart, &part, aFlags) != CURLUE_OK)
        return {};
    const CurlString owned{part};
    return owned ? std::string(owned.get()) : std::string();
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

    std::string result = text.substr(0, pathStart);
    AppendPercentEncoded(result, std::string_view(text).substr(pathStart), MustEncodeInAddress);
    return result;
}

bool HasScheme(std::string_view aAddress)
{
    const auto end = aAddress.find("://");
    if (end == std::string_view::npos || end == 0 || !IsAsciiAlpha(aAddress[0]))
        return false;
    for (std::size_t i = 1; i < end; ++i) {
        const char c = aAddress[i];
        if (!IsAsciiAlpha(c) && !IsAsciiDigit(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return true;
}

bool IsWebAddress(std::string_view aAddress)
{
    return StartsWithNoCase(aAddress, "http://") || StartsWithNoCase(aAddress, "https://");
}

std::string LocalPathToFileUrl(const std::string& aPath)
{
    std::string url = "file://";
    AppendPercentEncoded(url, std::filesystem::absolute(std::filesystem::path(aPath)).string(),
                         MustEncodeInFilePath);
    return url;
}

std::string LocalPathOf(const std::string& aFileUrl)
{
    // "." and ".." are left to the file system, which follows a link before
    // it goes up: curl's lexical removal could name another file.
    std::string path = UrlPart(aFileUrl, CURLUPART_PATH, CURLU_URLDECODE, CURLU_PATH_AS_IS);
    // A control byte is in no name a release needs, and curl's file reader
    // decodes every one of them.
    for (const char c : path)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return {};
    return path;
}

bool LosesTls(std::string_view aFrom, std::string_view aTo)
{
    return StartsWithNoCase(aFrom, "https://") && !StartsWithNoCase(aTo, "https://");
}

std::string RefusedRedirectText(const std::string& aTarget)
{
    return "refusing the redirect from https to http: " + aTarget;
}

bool IsLocationAllowed(std::string_view aInfoAddress, std::string_view aLocation)
{
    return !IsWebAddress(NormalizeAddress(aInfoAddress)) || IsWebAddress(NormalizeAddress(aLocation));
}

std::string LocationRefusedText(std::string_view aLocation)
{
    return "refusing location " + TrimControl(aLocation)
           + ": an info file from the web may name only web addresses";
}

std::string HostOf(const std::string& aAddress)
{
    return UrlPart(aAddress, CURLUPART_HOST, 0);
}

std::string ResolveReference(const std::string& aBase, std::string_view aReference)
{
    // curl's own encoding turns a space in the query into '+', which the
    // server reads as a plus sign; %20 means a space everywhere.
    std::string reference;
    for (const char c : aReference) {
        if (c == ' ')
            reference += "%20";
        else
            reference += c;
    }
    CurlUrl url{curl_url()};
    if (!url || curl_url_set(url.get(), CURLUPART_URL, aBase.c_str(), 0) != CURLUE_OK)
        return {};
    // curl takes "#s" for a relative path and drops the base's last segment
    // and query; a fragment alone keeps the whole base but its fragment.
    if (!reference.empty() && reference.front() == '#') {
        char* base = nullptr;
        if (curl_url_set(url.get(), CURLUPART_FRAGMENT, nullptr, 0) != CURLUE_OK
            || curl_url_get(url.get(), CURLUPART_URL, &base, 0) != CURLUE_OK || !base)
            return {};
        const CurlString owned{base};
        reference = owned.get() + reference;
    }
    if (curl_url_set(url.get(), CURLUPART_URL, reference.c_str(), CURLU_URLENCODE) != CURLUE_OK)
        return {};
    char* absolute = nullptr;
    if (curl_url_get(url.get(), CURLUPART_URL, &absolute, 0) != CURLUE_OK)
        return {};
    const CurlString owned{absolute};
    return owned ? std::string(owned.get()) : std::string();
}
