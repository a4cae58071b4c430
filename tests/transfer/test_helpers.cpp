#include "tests/transfer/test_helpers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>

#include <gtest/gtest.h>

#include "transfer/curl_global.h"

namespace {

// curl's global set-up, once for the whole test binary, as main() does it.
class CurlEnvironment : public ::testing::Environment {
public:
    void SetUp() override { mCurl = std::make_unique<CurlGlobal>(); }
    void TearDown() override { mCurl.reset(); }

private:
    std::unique_ptr<CurlGlobal> mCurl;
};

[[maybe_unused]] ::testing::Environment* const gCurlEnvironment =
    ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

// Bound to 127.0.0.1 on a port the kernel picks.
int BoundSocket(std::uint16_t& aPort)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "cannot create a socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        close(fd);
        throw std::system_error(error, std::generic_category(), "cannot bind to 127.0.0.1");
    }
    aPort = ntohs(address.sin_port);
    return fd;
}

}  // namespace

std::uint16_t ClosedPort()
{
    std::uint16_t port = 0;
    close(BoundSocket(port));  // bound, never listened: refused from now on
    return port;
}

SilentListener::SilentListener()
{
    mSocket = BoundSocket(mPort);
    if (listen(mSocket, 4) != 0) {
        const int error = errno;
        close(mSocket);
        throw std::system_error(error, std::generic_category(), "cannot listen on 127.0.0.1");
    }
}

SilentListener::~SilentListener()
{
    close(mSocket);
}

std::string SilentListener::Url(const std::string& aPath) const
{
    return "http://127.0.0.1:" + std::to_string(mPort) + aPath;
}
