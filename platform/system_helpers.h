#pragma once
// System facts: the user's folders, whether the desktop can show progress on
// the taskbar, and the info service address built into the program.
// Threads: any; nothing is cached, the environment is read on every call.

#include <string>
#include <string_view>

inline constexpr int CSIDL_DESKTOP = 0;
inline constexpr int CSIDL_PERSONAL = 5;
inline constexpr int CSIDL_MYMUSIC = 13;
inline constexpr int CSIDL_MYVIDEO = 14;
inline constexpr int CSIDL_DESKTOPDIRECTORY = 16;
inline constexpr int CSIDL_TEMPLATES = 21;
inline constexpr int CSIDL_APPDATA = 26;
inline constexpr int CSIDL_LOCAL_APPDATA = 28;
inline constexpr int CSIDL_MYPICTURES = 39;
inline constexpr int CSIDL_PROFILE = 40;

// The folder's path without a trailing "/": CSIDL_PROFILE is $HOME; the
// desktop, documents, music, videos, pictures and templates folders are the
// XDG user folders ("" when the user has none configured, as for a folder
// without a file-system path); CSIDL_APPDATA is XDG_CONFIG_HOME and
// CSIDL_LOCAL_APPDATA XDG_DATA_HOME. Any other number throws
// std::runtime_error("SHGetSpecialFolderLocation error: <reason>").
std::string GetSpecialFolderPath(int aCsidl);

// The XDG user folder aName ("DOWNLOAD", "DESKTOP", ...) from
// ${XDG_CONFIG_HOME:-$HOME/.config}/user-dirs.dirs, without a trailing "/";
// "" when it is not set there.
std::string XdgUserDir(const std::string& aName);

// True when taskbar progress can be offered: a desktop session bus is there.
// The name stays from the platform where this meant the operating system
// version that brought taskbar progress.
bool IsWindows7OrLater();

// The address built in with the CMake cache variable DOWNLOADER_EMBEDDED_URL,
// decoded by DecodeEmbeddedText. Throws std::runtime_error("Resource URL not
// found") when the build carries none.
std::string ReadEmbeddedURL();

// Text of a built-in resource: a byte-order mark (UTF-8, UTF-16LE, UTF-16BE)
// picks the encoding, else the bytes are UTF-8 or Windows-1252; a NUL ends the
// text; line ends become CR LF; leading and trailing blanks and control
// characters go.
std::string DecodeEmbeddedText(std::string_view aBytes);
