#pragma once
// A small HTTP/1.1 server for tests, after curl's own test server: canned
// replies per path, knobs for misbehaving, and a record of what was asked.
//
// It listens on 127.0.0.1 only, on a port the kernel picks, and serves every
// connection from one thread of its own with poll(). Each connection carries
// one request and ends with "Connection: close", unless SetKeepAlive(true):
// then a reply with its true Content-Length leaves the connection open for
// the next request. A path without a route gets
// 404. A client that goes away mid-reply is dropped quietly. The destructor
// stops the thread at once, also while a stalled reply is pending.
//
//     LoopbackServer server{{
//         {"/a.bin", {.body = "hello"}},
//         {"/old.bin", {.status = 302, .location = "/a.bin"}},
//         {"/cut.bin", {.body = std::string(4096, 'x'), .dropAfter = 1024}},
//     }};
//     fetch(server.Url("/a.bin"));
//
// Designated initializers must follow the order of the fields below.
//
// Ranges: a 200 route with ranges on answers "Range: bytes=N-" with 206 and
// the rest of the body (or 416 when N is past its end), unless an If-Range
// names neither its etag nor its lastModified; dropAfter and stallAfter then
// count the bytes of that partial body.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct Reply {
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    int status = 200;
    std::string body;
    std::string location;                                  // sent as Location when not empty
    std::string contentType = "application/octet-stream";  // empty: no Content-Type
    bool sendLength = true;                  // false: no Content-Length; the close ends the body
    std::int64_t claimedLength = -1;         // >= 0: sent as Content-Length instead of the true length
    std::size_t stallAfter = npos;           // body bytes sent, then silence with the connection open
    std::size_t dropAfter = npos;            // body bytes sent, then the connection is closed
    std::chrono::milliseconds dripDelay{0};  // with dripChunk: pause before each chunk
    std::size_t dripChunk = 0;               // body bytes per chunk; 0: send at full speed
    std::uint64_t repeat = 1;  // the body is sent this many times over (big replies, small strings)
    int failTimes = 0;         // the first failTimes requests of the path get failReply
    std::shared_ptr<const Reply> failReply;  // null: close the connection without a reply
    std::string etag;                        // sent as ETag when not empty (quotes included)
    std::string lastModified;                // sent as Last-Modified when not empty
    bool ranges = true;                      // false: Range is ignored, the whole body is sent
    std::string contentRange;                // sent as a 206's Content-Range instead of the true one
};

// One request as it arrived; header values are "" when the header was absent.
struct RequestSeen {
    std::string path;
    std::string range;
    std::string ifRange;
};

class LoopbackServer {
public:
    // Throws std::system_error when it cannot listen.
    explicit LoopbackServer(std::map<std::string, Reply> aRoutes = {});
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t Port() const { return mPort; }
    std::string Url(const std::string& aPath) const;  // "http://127.0.0.1:PORT" + aPath

    // All thread-safe. Paths are request targets as sent ("/a.bin?x=1").
    // SetRoute starts the route's failTimes count again.
    void SetRoute(const std::string& aPath, Reply aReply);
    std::vector<std::string> RequestedPaths() const;  // in order of arrival
    std::size_t RequestCount(const std::string& aPath) const;
    std::vector<RequestSeen> Requests() const;  // in order of arrival
    // Body bytes handed to the kernel for aPath, over every request so far.
    std::uint64_t BodyBytesSent(const std::string& aPath) const;
    void SetKeepAlive(bool aKeepAlive) { mKeepAlive = aKeepAlive; }
    // Connections accepted so far.
    std::size_t ConnectionCount() const { return mConnectionCount.load(); }
    // Replies to aPath that have sent everything before their stallAfter
    // point (the client has the head and those bytes); each counts once.
    std::size_t StallCount(const std::string& aPath) const;
    // Replies to aPath that wait at their stall point now go on with the rest
    // of their body; later ones stall as usual.
    void ResumeStalled(const std::string& aPath);

private:
    struct Route {
        Reply reply;
        int served = 0;
    };
    struct Connection;

    void Serve(std::stop_token aStop);
    // The reply for a request; null for "close without a reply".
    std::shared_ptr<const Reply> Choose(const RequestSeen& aRequest);
    void CountBody(const std::string& aPath, std::uint64_t aBytes);
    void Wake();
    // Whether a reply to aPath that stalled at resume count aSeen is to go on.
    bool Resumed(const std::string& aPath, int aSeen) const;

    int mListen = -1;
    int mWake[2] = {-1, -1};  // a byte here ends the poll() wait at once
    std::uint16_t mPort = 0;
    mutable std::mutex mMutex;  // guards mRoutes, mRequests, mBodyBytes, mStalls and mResumes
    std::map<std::string, Route> mRoutes;
    std::vector<RequestSeen> mRequests;
    std::map<std::string, std::uint64_t> mBodyBytes;
    std::atomic<bool> mKeepAlive{false};
    std::atomic<std::size_t> mConnectionCount{0};
    std::map<std::string, std::size_t> mStalls;
    std::map<std::string, int> mResumes;
    std::jthread mThread;  // last: starts after everything above exists
};
