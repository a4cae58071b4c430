// The publishing tool's trial server, driven directly.

#include "publish/release_server.h"

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>

#include "tests/support/eventually.h"

namespace {

TEST(ReleaseServer, RefusesAPortAnotherServerHolds)
{
    TReleaseServer first({}, "first release");
    const int port = first.Bind(0);
    TReleaseServer second({}, "second release");
    try {
        second.Bind(port);
        ADD_FAILURE() << "two servers share port " << port;
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "cannot listen on 127.0.0.1:" + std::to_string(port));
    }

    std::atomic<bool> finished{false};
    std::thread serving([&] {
        first.Run();
        finished = true;
    });
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5);
    client.set_read_timeout(5);
    const auto info = client.Get(TReleaseServer::kInfoPath);
    // A stop before the server listens is lost: repeat it until one lands.
    Eventually([&] {
        first.Stop();
        return finished.load();
    });
    serving.join();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->body, "first release");
}

}  // namespace
