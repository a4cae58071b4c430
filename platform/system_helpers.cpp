#include "platform/system_helpers.h"

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>

#include "platform/posix_util.h"
#include "platform/text.h"

// Written by CMake from DOWNLOADER_EMBEDDED_URL (embedded_url.cpp.in).
extern const unsigned char kEmbeddedUrlBytes[];
extern const std::size_t kEmbeddedUrlSize;

namespace {

// Reasons read as the shell's own messages did, without their closing full
// stop, so that the caller's message reads as one sentence.
[[noreturn]] void ThrowShellError(std::string aReason)
{
    while (!aReason.empty() && (static_cast<unsigned char>(aReason.back()) <= 0x20 || aReason.back() == '.'))
        aReason.pop_back();
    throw std::runtime_error("SHGetSpecialFolderLocation error: " + aReason);
}

std::string WithoutTrailingSlash(std::string aPath)
{
    while (aPath.size() > 1 && aPath.back() == '/')
        aPath.pop_back();
    return aPath;
}

// A value of user-dirs.dirs: "$HOME/sub" or "/absolute", shell-quoted.
// Anything else is not a valid entry and counts as not set.
std::string ParseUserDirValue(std::string_view aValue)
{
    if (aValue.size() >= 2 && aValue.front() == '"' && aValue.back() == '"')
        aValue = aValue.substr(1, aValue.size() - 2);
    std::string path;
    if (aValue.substr(0, 5) == "$HOME" && (aValue.size() == 5 || aValue[5] == '/')) {
        path = HomeFolder();
        aValue.remove_prefix(5);
    }
    for (std::size_t i = 0; i < aValue.size(); ++i) {
        if (aValue[i] == '\\' && i + 1 < aValue.size())
            ++i;
        path += aValue[i];
    }
    if (path.empty() || path.front() != '/')
        return "";
    return WithoutTrailingSlash(path);
}

std::string DecodeUtf16(std::string_view aBytes, bool aBigEndian)
{
    std::u16string units;
    units.reserve(aBytes.size() / 2);
    for (std::size_t i = 0; i + 1 < aBytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(aBytes[i]);
        const auto second = static_cast<unsigned char>(aBytes[i + 1]);
        units += static_cast<char16_t>(aBigEndian ? (first << 8 | second) : (second << 8 | first));
    }
    return Utf16ToUtf8(units);
}

}  // namespace

std::string GetSpecialFolderPath(int aCsidl)
{
    switch (aCsidl) {
    case CSIDL_PROFILE: {
        std::string home = HomeFolder();
        if (home.empty())
            ThrowShellError("The system cannot find the file specified.");
        return home;
    }
    case CSIDL_DESKTOP:
    case CSIDL_DESKTOPDIRECTORY: return XdgUserDir("DESKTOP");
    case CSIDL_PERSONAL: return XdgUserDir("DOCUMENTS");
    case CSIDL_MYMUSIC: return XdgUserDir("MUSIC");
    case CSIDL_MYVIDEO: return XdgUserDir("VIDEOS");
    case CSIDL_MYPICTURES: return XdgUserDir("PICTURES");
    case CSIDL_TEMPLATES: return XdgUserDir("TEMPLATES");
    case CSIDL_APPDATA: return WithoutTrailingSlash(XdgBaseFolder("XDG_CONFIG_HOME", ".config").string());
    case CSIDL_LOCAL_APPDATA:
        return WithoutTrailingSlash(XdgBaseFolder("XDG_DATA_HOME", ".local/share").string());
    default: ThrowShellError("The parameter is incorrect.");
    }
}

std::string XdgUserDir(const std::string& aName)
{
    std::ifstream file(XdgBaseFolder("XDG_CONFIG_HOME", ".config") / "user-dirs.dirs");
    const std::string key = "XDG_" + aName + "_DIR";
    std::string result;
    std::string line;
    // The file is sourced by shells, so a later assignment wins.
    while (std::getline(file, line)) {
        const std::string trimmed = TrimControl(line);
        const std::size_t equals = trimmed.find('=');
        if (trimmed.empty() || trimmed.front() == '#' || equals == std::string::npos)
            continue;
        if (TrimControl(std::string_view(trimmed).substr(0, equals)) == key)
            result = ParseUserDirValue(TrimControl(std::string_view(trimmed).substr(equals + 1)));
    }
    return result;
}

bool IsWindows7OrLater()
{
    if (!EnvText("DBUS_SESSION_BUS_ADDRESS").empty())
        return true;
    const std::string runtime = EnvText("XDG_RUNTIME_DIR");
    struct stat info {};
    return !runtime.empty() && stat((runtime + "/bus").c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

std::string ReadEmbeddedURL()
{
    if (kEmbeddedUrlSize == 0)
        throw std::runtime_error("Resource URL not found");
    return DecodeEmbeddedText(
        std::string_view(reinterpret_cast<const char*>(kEmbeddedUrlBytes), kEmbeddedUrlSize));
}

std::string DecodeEmbeddedText(std::string_view aBytes)
{
    std::string text;
    if (aBytes.substr(0, 3) == "\xEF\xBB\xBF")
        text = AnsiToUtf8(aBytes.substr(3));
    else if (aBytes.substr(0, 2) == "\xFF\xFE")
        text = DecodeUtf16(aBytes.substr(2), false);
    else if (aBytes.substr(0, 2) == "\xFE\xFF")
        text = DecodeUtf16(aBytes.substr(2), true);
    else
        text = AnsiToUtf8(aBytes);
    text.resize(std::min(text.size(), text.find('\0')));

    std::string joined;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        joined += text.substr(start, end - start) + "\r\n";
        if (end == std::string::npos)
            break;
        start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    }
    return TrimControl(joined);
}
