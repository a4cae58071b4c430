#pragma once
// Freshness of signed info files: the newest signing time accepted for each
// info address is kept in the settings, so that an older genuine file served
// at the same address later (a rollback) is refused. Each address gets a key
// of its own, named by the SHA-256 of the address, with the values
// "InfoAddress" (for people reading the file) and "Timestamp" (seconds since
// 1970, decimal). Threads: any.

#include <cstdint>
#include <optional>
#include <string>

inline constexpr const char* kSignedInfoSettingsKey = "\\SOFTWARE\\Corvane\\Downloader\\SignedInfo";

// The settings key of aInfoAddress (blanks and control characters at either
// end dropped first): kSignedInfoSettingsKey, "\", 64 hex digits.
std::string SignedInfoSettingsKey(const std::string& aInfoAddress);

// Call only once the file's signature and its address are verified. Accepts
// aTimestamp for aInfoAddress when no later one was accepted before (the same
// one again is fine: the same file fetched again) and remembers it; returns
// nullopt then. Otherwise a reason that gives both times in UTC. Settings that
// cannot be written do not refuse the file: it is checked against what they
// hold, and the settings layer tells of the failure on stderr.
std::optional<std::string> AcceptSignedTimestamp(const std::string& aInfoAddress, std::uint64_t aTimestamp);
