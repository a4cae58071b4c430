#pragma once
// The sizes an info file may give in its [Size] section: FileN=bytes for the
// release file listed as FileN, Downloader=bytes for the newer wizard. A
// transfer stops at the size given, and the free-space check counts it; a
// file without one is bounded by the space left on the disk alone.

#include <cstdint>
#include <optional>
#include <string>

#include "engine/ini_reader.h"

inline constexpr const char* kSizeSection = "Size";
inline constexpr const char* kWizardSizeKey = "Downloader";

// The size listed under aKey; nothing when the key is missing or empty.
// A value that is not a whole number of bytes (digits only, no sign, no
// unit, within 64 bits) throws std::runtime_error("refusing the size of
// NAME: \"TEXT\" is not a whole number of bytes"), aName being the file it is
// for: a size that cannot be read must not turn into no bound at all.
std::optional<std::uint64_t> ListedSize(const TIniReader& aIni, const std::string& aKey,
                                        const std::string& aName);
