#include "publish/release_server.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include <httplib.h>

TReleaseServer::TReleaseServer(std::map<std::string, std::string> aFiles, std::string aInfoText)
    : mFiles(std::move(aFiles)), mInfoText(std::move(aInfoText)), mServer(std::make_unique<httplib::Server>())
{
    // The decoded path is only ever looked up among the served names, never
    // joined to the folder, so "..", "/" or "%2F" cannot reach another file.
    mServer->Get(R"(/(.*))", [this](const httplib::Request& aRequest, httplib::Response& aResponse) {
        if (aRequest.path == kInfoPath) {
            // Not a text/ type: the server library compresses text for a client
            // that accepts it, and the wizard must get exactly these bytes.
            aResponse.set_content(mInfoText, "application/octet-stream");
            return;
        }
        if (aRequest.path == std::string(kInfoPath) + ".minisig" && !mInfoSignature.empty()) {
            aResponse.set_content(mInfoSignature, "application/octet-stream");
            return;
        }
        const auto found = mFiles.find(aRequest.path.substr(1));
        std::error_code error;
        const std::uintmax_t size =
            found == mFiles.end() ? 0 : std::filesystem::file_size(found->second, error);
        auto file = found == mFiles.end() || error
                        ? nullptr
                        : std::make_shared<std::ifstream>(found->second, std::ios::binary);
        if (!file || !*file) {
            aResponse.status = 404;
            aResponse.set_content("not found\n", "text/plain");
            return;
        }
        aResponse.set_content_provider(
            static_cast<std::size_t>(size), "application/octet-stream",
            [file](std::size_t aOffset, std::size_t aLength, httplib::DataSink& aSink) {
                char buffer[64 * 1024];
                file->seekg(static_cast<std::streamoff>(aOffset));
                file->read(buffer, static_cast<std::streamsize>(std::min(aLength, sizeof buffer)));
                const auto got = file->gcount();
                // A file that shrank since the answer began: end the connection
                // rather than send a body shorter than its Content-Length.
                if (got <= 0)
                    return false;
                file->clear();
                return aSink.write(buffer, static_cast<std::size_t>(got));
            });
    });
    // The library's default adds SO_REUSEPORT, with which a second server
    // binds a port that is taken and the two answer in turn. SO_REUSEADDR
    // alone still allows a quick restart while old connections linger.
    mServer->set_socket_options([](socket_t aSocket) {
        const int yes = 1;
        setsockopt(aSocket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    mServer->set_logger([](const httplib::Request& aRequest, const httplib::Response& aResponse) {
        std::cerr << aRequest.method << ' ' << aRequest.path << ' ' << aResponse.status << std::endl;
    });
}

TReleaseServer::~TReleaseServer() = default;

int TReleaseServer::Bind(int aPort)
{
    const int port = aPort == 0 ? mServer->bind_to_any_port("127.0.0.1")
                                : (mServer->bind_to_port("127.0.0.1", aPort) ? aPort : -1);
    if (port <= 0)
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(aPort));
    return port;
}

bool TReleaseServer::Run()
{
    return mServer->listen_after_bind();
}

void TReleaseServer::Stop()
{
    mServer->stop();
}
