#pragma once
// The hive file on disk: its guarded load, and a change to it under a lock
// that is written back whole and atomically.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

#include "platform/registry_hive.h"

// A hive file larger than this is taken as unreadable rather than read whole:
// the program's own values fill a few hundred bytes, and every settings call
// reads and parses the file.
inline constexpr std::uintmax_t kMaxHiveBytes = 16 * 1024 * 1024;

// A missing file is an empty hive. nullopt when the file is there but cannot
// be read or understood, or is no plain file of kMaxHiveBytes or less; the
// first such failure of the process is told on stderr.
std::optional<TRegistryHive> LoadHive(const std::filesystem::path& aHive);

// Applies aChange to the hive as it is on disk at this moment and writes the
// result back when aChange reports a change. The lock covers the read as well
// as the write, so a value that another process wrote meanwhile is kept.
// false when the hive cannot be read or written; nothing is written then.
bool ChangeHive(const std::filesystem::path& aHive, const std::function<bool(TRegistryHive&)>& aChange);
