#pragma once
// Serves a release folder and its info file over HTTP on 127.0.0.1 only,
// for trying a release with the wizard before it goes to the real server.

#include <map>
#include <memory>
#include <string>

namespace httplib {
class Server;
}

class TReleaseServer {
public:
    // The address path of the info file.
    static constexpr const char* kInfoPath = "/info.ini";

    // aFiles maps each served name to its file. Only these names and
    // kInfoPath are served, with their exact bytes; every other path is 404.
    TReleaseServer(std::map<std::string, std::string> aFiles, std::string aInfoText);
    ~TReleaseServer();
    TReleaseServer(const TReleaseServer&) = delete;
    TReleaseServer& operator=(const TReleaseServer&) = delete;

    // Binds 127.0.0.1:aPort, or a port the kernel picks when aPort is 0, and
    // returns the port. Throws std::runtime_error when it cannot.
    int Bind(int aPort);
    // The info text may be set after Bind, once the port is known; not while Run is serving.
    void SetInfoText(std::string aText) { mInfoText = std::move(aText); }
    // The info file's minisign signature, served beside it as kInfoPath
    // ".minisig"; empty: none (404). The same rule as SetInfoText.
    void SetInfoSignature(std::string aText) { mInfoSignature = std::move(aText); }
    // Serves on the calling thread until Stop; false when serving failed.
    bool Run();
    // Any thread.
    void Stop();

private:
    std::map<std::string, std::string> mFiles;
    std::string mInfoText;
    std::string mInfoSignature;
    std::unique_ptr<httplib::Server> mServer;
};
