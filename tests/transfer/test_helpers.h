#pragma once
// Helpers shared by the transfer tests; curl's global set-up is made here
// once for the whole binary.

#include <cstdint>
#include <string>

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
