#include "tests/support/loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxRequestSize = 64 * 1024;
constexpr int kIdleWaitMs = 100;  // bound of one poll() wait
constexpr std::size_t kSendBufferSize = 256 * 1024;
constexpr int kAcceptsPerTurn = 16;

std::string ReasonPhrase(int aStatus)
{
    switch (aStatus) {
    case 200: return "OK";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

// The value of header aName in a request head, "" when absent.
std::string HeaderValue(const std::string& aRequest, const std::string& aName)
{
    for (std::size_t pos = aRequest.find("\r\n"); pos != std::string::npos;) {
        const std::size_t start = pos + 2;
        const std::size_t end = aRequest.find("\r\n", start);
        if (end == std::string::npos || end == start)
            break;
        const std::string line = aRequest.substr(start, end - start);
        const auto colon = line.find(':');
        if (colon == aName.size() && std::equal(aName.begin(), aName.end(), line.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a))
                       == std::tolower(static_cast<unsigned char>(b));
            })) {
            const auto value = line.find_first_not_of(' ', colon + 1);
            return value == std::string::npos ? std::string() : line.substr(value);
        }
        pos = end;
    }
    return "";
}

// What the reply to one request looks like on the wire: its status, its body
// as an offset and length into the route's (repeated) body, extra headers.
struct Framing {
    int status = 200;
    std::uint64_t start = 0;
    std::uint64_t length = 0;
    std::string contentRange;
};

Framing FrameReply(const Reply& aReply, const RequestSeen& aRequest)
{
    const std::uint64_t total = aReply.body.empty() ? 0 : aReply.body.size() * aReply.repeat;
    Framing framing{aReply.status, 0, total, ""};
    const std::string prefix = "bytes=";
    if (aReply.status != 200 || !aReply.ranges || aRequest.range.rfind(prefix, 0) != 0)
        return framing;
    if (!aRequest.ifRange.empty() && aRequest.ifRange != aReply.etag
        && aRequest.ifRange != aReply.lastModified)
        return framing;  // the client's copy is of another version: all of this one
    const std::string firstByte = aRequest.range.substr(prefix.size());
    if (firstByte.empty() || firstByte.back() != '-'
        || firstByte.find_first_not_of("0123456789") != firstByte.size() - 1)
        return framing;  // only "N-" is understood; anything else gets the whole body
    const std::uint64_t from = std::stoull(firstByte);
    if (from >= total)
        return Framing{416, 0, 0, "bytes */" + std::to_string(total)};
    if (!aReply.contentRange.empty())
        return Framing{206, from, total - from, aReply.contentRange};
    return Framing{206, from, total - from,
                   "bytes " + std::to_string(from) + "-" + std::to_string(total - 1) + "/"
                       + std::to_string(total)};
}

std::string MakeHead(const Reply& aReply, const Framing& aFraming, bool aKeepAlive)
{
    std::string head =
        "HTTP/1.1 " + std::to_string(aFraming.status) + " " + ReasonPhrase(aFraming.status) + "\r\n";
    if (!aReply.contentType.empty())
        head += "Content-Type: " + aReply.contentType + "\r\n";
    if (!aReply.location.empty())
        head += "Location: " + aReply.location + "\r\n";
    if (!aReply.etag.empty())
        head += "ETag: " + aReply.etag + "\r\n";
    if (!aReply.lastModified.empty())
        head += "Last-Modified: " + aReply.lastModified + "\r\n";
    if (!aFraming.contentRange.empty())
        head += "Content-Range: " + aFraming.contentRange + "\r\n";
    if (aReply.sendLength) {
        const std::uint64_t length = aReply.claimedLength >= 0 && aFraming.status == aReply.status
                                         ? static_cast<std::uint64_t>(aReply.claimedLength)
                                         : aFraming.length;
        head += "Content-Length: " + std::to_string(length) + "\r\n";
    }
    head += aKeepAlive ? "\r\n" : "Connection: close\r\n\r\n";
    return head;
}

}  // namespace

struct LoopbackServer::Connection {
    int fd = -1;
    bool closed = false;
    std::string request;
    std::shared_ptr<const Reply> reply;  // set once the request is complete
    std::string path;
    std::string head;
    std::size_t headSent = 0;
    std::uint64_t bodyLimit = 0;  // body bytes to send before stalling or closing
    std::uint64_t bodySent = 0;
    std::uint64_t bodyStart = 0;  // offset into the body of a partial reply
    bool closeAtLimit = true;     // false: stall with the connection open
    std::uint64_t bodyTotal = 0;  // the whole (partial) body, sent on after a resume
    bool stalled = false;         // waits at its stall point
    int stalledAt = 0;            // the path's resume count when it stalled
    std::uint64_t chunkLeft = 0;  // drip: bytes left in the current chunk
    Clock::time_point nextBody;   // drip: when the next chunk may go
    bool keepAlive = false;       // the connection waits for another request after this reply

    bool HeadPending() const { return reply && headSent < head.size(); }
    bool BodyPending() const { return reply && bodySent < bodyLimit; }
    bool AtStall() const { return reply && !closeAtLimit && !HeadPending() && !BodyPending(); }
};

LoopbackServer::LoopbackServer(std::map<std::string, Reply> aRoutes)
{
    for (auto& [path, reply] : aRoutes)
        mRoutes[path] = Route{std::move(reply), 0};

    mListen = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (mListen < 0)
        throw std::system_error(errno, std::generic_category(), "cannot create a socket");
    const int yes = 1;
    setsockopt(mListen, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // kernel picks a free port
    socklen_t length = sizeof address;
    if (bind(mListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(mListen, 16) != 0
        || getsockname(mListen, reinterpret_cast<sockaddr*>(&address), &length) != 0
        || pipe2(mWake, O_NONBLOCK | O_CLOEXEC) != 0) {
        const int error = errno;
        close(mListen);
        throw std::system_error(error, std::generic_category(), "cannot listen on 127.0.0.1");
    }
    mPort = ntohs(address.sin_port);
    mThread = std::jthread([this](std::stop_token aStop) { Serve(aStop); });
}

LoopbackServer::~LoopbackServer()
{
    mThread.request_stop();
    Wake();
    if (mThread.joinable())
        mThread.join();
    close(mListen);
    close(mWake[0]);
    close(mWake[1]);
}

std::string LoopbackServer::Url(const std::string& aPath) const
{
    return "http://127.0.0.1:" + std::to_string(mPort) + aPath;
}

void LoopbackServer::SetRoute(const std::string& aPath, Reply aReply)
{
    std::lock_guard lock(mMutex);
    mRoutes[aPath] = Route{std::move(aReply), 0};
}

std::vector<std::string> LoopbackServer::RequestedPaths() const
{
    std::lock_guard lock(mMutex);
    std::vector<std::string> paths;
    for (const auto& request : mRequests)
        paths.push_back(request.path);
    return paths;
}

std::size_t LoopbackServer::RequestCount(const std::string& aPath) const
{
    std::lock_guard lock(mMutex);
    return static_cast<std::size_t>(std::count_if(
        mRequests.begin(), mRequests.end(), [&](const RequestSeen& aSeen) { return aSeen.path == aPath; }));
}

std::vector<RequestSeen> LoopbackServer::Requests() const
{
    std::lock_guard lock(mMutex);
    return mRequests;
}

std::uint64_t LoopbackServer::BodyBytesSent(const std::string& aPath) const
{
    std::lock_guard lock(mMutex);
    const auto found = mBodyBytes.find(aPath);
    return found == mBodyBytes.end() ? 0 : found->second;
}

void LoopbackServer::CountBody(const std::string& aPath, std::uint64_t aBytes)
{
    std::lock_guard lock(mMutex);
    mBodyBytes[aPath] += aBytes;
}

std::size_t LoopbackServer::StallCount(const std::string& aPath) const
{
    std::lock_guard lock(mMutex);
    const auto found = mStalls.find(aPath);
    return found == mStalls.end() ? 0 : found->second;
}

void LoopbackServer::ResumeStalled(const std::string& aPath)
{
    {
        std::lock_guard lock(mMutex);
        ++mResumes[aPath];
    }
    Wake();
}

void LoopbackServer::Wake()
{
    const char byte = 1;
    [[maybe_unused]] const auto written = write(mWake[1], &byte, 1);
}

bool LoopbackServer::Resumed(const std::string& aPath, int aSeen) const
{
    std::lock_guard lock(mMutex);
    const auto found = mResumes.find(aPath);
    return found != mResumes.end() && found->second > aSeen;
}

std::shared_ptr<const Reply> LoopbackServer::Choose(const RequestSeen& aRequest)
{
    std::lock_guard lock(mMutex);
    mRequests.push_back(aRequest);
    const auto found = mRoutes.find(aRequest.path);
    if (found == mRoutes.end())
        return std::make_shared<const Reply>(
            Reply{.status = 404, .body = "not found", .contentType = "text/plain"});
    Route& route = found->second;
    if (route.served++ < route.reply.failTimes)
        return route.reply.failReply;
    return std::make_shared<const Reply>(route.reply);
}

void LoopbackServer::Serve(std::stop_token aStop)
{
    std::vector<std::unique_ptr<Connection>> connections;
    std::vector<char> buffer(kSendBufferSize);
    std::vector<pollfd> fds;

    // Reads what the client sent; starts the reply once the request is whole.
    const auto receive = [&](Connection& aConnection) {
        char data[4096];
        for (int turn = 0; turn < 16; ++turn) {
            const ssize_t count = recv(aConnection.fd, data, sizeof data, 0);
            if (count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                aConnection.closed = true;  // the client went away
                return;
            }
            if (count < 0)
                return;
            if (aConnection.reply)
                continue;  // nothing more is expected; drop it
            aConnection.request.append(data, static_cast<std::size_t>(count));
            const auto end = aConnection.request.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (aConnection.request.size() > kMaxRequestSize)
                    aConnection.closed = true;
                continue;
            }
            // "GET /path HTTP/1.1": the target sits between the first two spaces.
            const auto first = aConnection.request.find(' ');
            const auto second = aConnection.request.find(' ', first + 1);
            const std::string target = first == std::string::npos || second == std::string::npos
                                           ? std::string("/")
                                           : aConnection.request.substr(first + 1, second - first - 1);
            const std::string head = aConnection.request.substr(0, end + 2);
            const RequestSeen seen{target, HeaderValue(head, "Range"), HeaderValue(head, "If-Range")};
            aConnection.path = target;
            aConnection.reply = Choose(seen);
            if (!aConnection.reply) {
                aConnection.closed = true;
                return;
            }
            const Reply& reply = *aConnection.reply;
            const Framing framing = FrameReply(reply, seen);
            const std::uint64_t total = framing.length;
            // Only a reply sent whole and with its true length can be
            // followed by another on the same connection.
            aConnection.keepAlive = mKeepAlive.load() && reply.sendLength && reply.claimedLength < 0
                                    && reply.stallAfter == Reply::npos && reply.dropAfter == Reply::npos;
            aConnection.head = MakeHead(reply, framing, aConnection.keepAlive);
            aConnection.bodyStart = framing.start;
            const bool stalls = reply.stallAfter < total && reply.stallAfter <= reply.dropAfter;
            aConnection.bodyLimit = std::min<std::uint64_t>({total, reply.stallAfter, reply.dropAfter});
            aConnection.closeAtLimit = !stalls;
            aConnection.bodyTotal = total;
            aConnection.chunkLeft = reply.dripChunk;
            aConnection.nextBody = Clock::now() + (reply.dripChunk > 0 ? reply.dripDelay : Clock::duration{});
        }
    };

    // Sends what is due in one send(), the head and the first body bytes
    // together, so a body longer than its Content-Length reaches the client
    // in the same read as the announced bytes.
    const auto transmit = [&](Connection& aConnection) {
        const Reply& reply = *aConnection.reply;
        const auto now = Clock::now();
        std::size_t used = 0;
        if (aConnection.HeadPending()) {
            used = std::min(aConnection.head.size() - aConnection.headSent, buffer.size());
            std::memcpy(buffer.data(), aConnection.head.data() + aConnection.headSent, used);
        }
        std::uint64_t bodyCount = 0;
        if (aConnection.BodyPending() && now >= aConnection.nextBody) {
            bodyCount =
                std::min<std::uint64_t>(aConnection.bodyLimit - aConnection.bodySent, buffer.size() - used);
            if (reply.dripChunk > 0)
                bodyCount = std::min(bodyCount, aConnection.chunkLeft);
            std::uint64_t offset = (aConnection.bodyStart + aConnection.bodySent) % reply.body.size();
            for (std::uint64_t copied = 0; copied < bodyCount;) {
                const auto piece = std::min<std::uint64_t>(bodyCount - copied, reply.body.size() - offset);
                std::memcpy(buffer.data() + used + copied, reply.body.data() + offset, piece);
                copied += piece;
                offset = 0;
            }
        }
        const std::size_t size = used + static_cast<std::size_t>(bodyCount);
        if (size == 0)
            return;
        const ssize_t sent = send(aConnection.fd, buffer.data(), size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                aConnection.closed = true;  // the client went away mid-reply
            return;
        }
        const auto headPart = std::min(static_cast<std::size_t>(sent), used);
        const auto bodyPart = static_cast<std::uint64_t>(sent) - headPart;
        aConnection.headSent += headPart;
        aConnection.bodySent += bodyPart;
        if (bodyPart > 0)
            CountBody(aConnection.path, bodyPart);
        if (reply.dripChunk > 0 && bodyPart > 0) {
            aConnection.chunkLeft -= bodyPart;
            if (aConnection.chunkLeft == 0) {
                aConnection.chunkLeft = reply.dripChunk;
                aConnection.nextBody = now + reply.dripDelay;
            }
        }
        if (!aConnection.HeadPending() && !aConnection.BodyPending() && aConnection.closeAtLimit) {
            if (aConnection.keepAlive) {
                const int fd = aConnection.fd;
                aConnection = Connection{};  // ready for the next request
                aConnection.fd = fd;
                return;
            }
            shutdown(aConnection.fd, SHUT_WR);
            aConnection.closed = true;
        }
    };

    // Counts a reply that has reached its stall point, and lets one go on
    // once ResumeStalled asks for it.
    const auto stallOrResume = [&](Connection& aConnection) {
        if (aConnection.closed || !aConnection.AtStall())
            return;
        if (!aConnection.stalled) {
            aConnection.stalled = true;
            std::lock_guard lock(mMutex);
            ++mStalls[aConnection.path];
            aConnection.stalledAt = mResumes[aConnection.path];
        } else if (Resumed(aConnection.path, aConnection.stalledAt)) {
            aConnection.stalled = false;
            aConnection.closeAtLimit = true;
            aConnection.bodyLimit =
                std::min<std::uint64_t>(aConnection.bodyTotal, aConnection.reply->dropAfter);
            if (!aConnection.BodyPending()) {
                shutdown(aConnection.fd, SHUT_WR);
                aConnection.closed = true;
            }
        }
    };

    while (!aStop.stop_requested()) {
        const auto now = Clock::now();
        int timeout = kIdleWaitMs;
        fds.clear();
        fds.push_back({mWake[0], POLLIN, 0});
        fds.push_back({mListen, POLLIN, 0});
        for (const auto& connection : connections) {
            short events = POLLIN;
            if (connection->HeadPending() || (connection->BodyPending() && now >= connection->nextBody)) {
                events |= POLLOUT;
            } else if (connection->BodyPending()) {
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(connection->nextBody - now);
                timeout = std::min(timeout, static_cast<int>(wait.count()));
            }
            fds.push_back({connection->fd, events, 0});
        }
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0) {
            char drain[16];
            [[maybe_unused]] const auto count = read(mWake[0], drain, sizeof drain);
        }
        const std::size_t known = connections.size();
        for (std::size_t i = 0; i < known; ++i) {
            Connection& connection = *connections[i];
            const short events = fds[i + 2].revents;
            if (events & (POLLIN | POLLHUP | POLLERR))
                receive(connection);
            if (!connection.closed && connection.reply && (events & POLLOUT))
                transmit(connection);
            stallOrResume(connection);
        }
        if (fds[1].revents & POLLIN) {
            for (int turn = 0; turn < kAcceptsPerTurn; ++turn) {
                const int fd = accept4(mListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0)
                    break;
                auto connection = std::make_unique<Connection>();
                connection->fd = fd;
                ++mConnectionCount;
                connections.push_back(std::move(connection));
            }
        }
        std::erase_if(connections, [](const std::unique_ptr<Connection>& aConnection) {
            if (aConnection->closed)
                close(aConnection->fd);
            return aConnection->closed;
        });
    }
    for (const auto& connection : connections)
        close(connection->fd);
}
