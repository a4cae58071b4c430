#include "publish/release_signing.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::string HowToSign(const std::string& aSecretKeyFile, const std::string& aFile)
{
    return "; sign it by hand with: minisign -S -s " + aSecretKeyFile + " -m " + aFile + " (Debian package"
           + " minisign), and publish " + aFile + ".minisig beside it";
}

// Removes the folder on every way out.
class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "downloader-sign-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error(
                std::string("cannot sign the info file: cannot make a temporary folder: ")
                + std::strerror(errno));
        mPath = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(mPath, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const { return mPath; }

private:
    std::filesystem::path mPath;
};

}  // namespace

std::string TimestampedComment(std::int64_t aSeconds, const std::string& aName)
{
    std::string name;
    for (const char c : aName)
        if (c != '\t' && c != '\r' && c != '\n')
            name += c;
    return "timestamp:" + std::to_string(aSeconds) + "\tfile:" + name + "\thashed";
}

void SignWithMinisign(const std::string& aSecretKeyFile, const std::string& aFile)
{
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    std::vector<std::string> args = {
        "minisign", "-S",  "-s", aSecretKeyFile,
        "-m",       aFile, "-t", TimestampedComment(now, std::filesystem::path(aFile).filename().string())};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    pid_t child = -1;
    const int spawned = posix_spawnp(&child, "minisign", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error("cannot sign " + aFile + ": cannot run minisign: " + std::strerror(spawned)
                                 + HowToSign(aSecretKeyFile, aFile));
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("cannot sign " + aFile + ": minisign -S failed"
                                 + (WIFEXITED(status) ? " with status " + std::to_string(WEXITSTATUS(status))
                                                      : std::string(" by a signal"))
                                 + HowToSign(aSecretKeyFile, aFile));
}

std::string SignTextWithMinisign(const std::string& aSecretKeyFile, const std::string& aText)
{
    const TempFolder folder;
    const std::string file = (folder.Path() / "info.ini").string();
    {
        std::ofstream out(file, std::ios::binary);
        out << aText;
        if (!out.flush())
            throw std::runtime_error("cannot sign the info file: cannot write " + file);
    }
    SignWithMinisign(aSecretKeyFile, file);
    std::ifstream in(file + ".minisig", std::ios::binary);
    std::ostringstream signature;
    signature << in.rdbuf();
    if (signature.str().empty())
        throw std::runtime_error("cannot sign the info file: minisign wrote no signature");
    return signature.str();
}
