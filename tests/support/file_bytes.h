#pragma once
// Whole files as byte strings, for tests.

#include <filesystem>
#include <string>

// The file's bytes; "" when it cannot be read (a missing file, say).
std::string ReadFileBytes(const std::filesystem::path& aPath);
// Creates or replaces the file with aBytes; throws std::runtime_error when
// that fails, so that a test never goes on with a file it did not write.
void WriteFileBytes(const std::filesystem::path& aPath, const std::string& aBytes);
