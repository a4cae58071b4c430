#pragma once
// Helpers shared by the transfer tests.

#include <cstdint>
#include <filesystem>
#include <string>

// A fresh folder under the test temp folder, removed by the destructor.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& Path() const { return mPath; }

private:
    std::filesystem::path mPath;
};

// A port on 127.0.0.1 where nothing listens: connecting is refused.
std::uint16_t ClosedPort();

// Accepts connections into its backlog and never answers: a server that
// sends nothing at all.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    std::string Url(const std::string& aPath) const;

private:
    int mSocket = -1;
    std::uint16_t mPort = 0;
};

std::string ReadFileBytes(const std::filesystem::path& aPath);
void WriteFileBytes(const std::filesystem::path& aPath, const std::string& aBytes);
