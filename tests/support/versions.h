#pragma once
// Version texts for info files, taken from this build's own version
// (project(VERSION)), so that the tests hold whatever number it carries.
// Header only: for test binaries that link the engine.

#include <cstdint>
#include <sstream>
#include <string>

#include "downloader_version.h"
#include "engine/info_address.h"

// This build's version as the worker compares it.
inline std::int32_t OwnVersionNumber()
{
    return VersionToInt(kDownloaderVersion);
}

// The next version number after this build's: a newer wizard.
inline std::string NewerVersion()
{
    return std::to_string(OwnVersionNumber() + 1);
}

// aNumber in hexadecimal digits, for "$..." and "0x..." version texts.
inline std::string HexDigits(std::int32_t aNumber)
{
    std::ostringstream digits;
    digits << std::hex << std::uppercase << aNumber;
    return digits.str();
}
