// downloader-publish: writes the info file for a folder of release files, or
// serves the folder with its info file on 127.0.0.1 for a trial run.
//
// Exit status: 0 done, 1 the release cannot be published as asked (the
// message says why), 2 the command line is wrong.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <pthread.h>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "components/file_digests.h"
#include "downloader_version.h"
#include "publish/info_file_writer.h"
#include "publish/output_file.h"
#include "publish/release_folder.h"
#include "publish/release_server.h"
#include "publish/release_signing.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage = R"(usage: downloader-publish --base-url URL [options] RELEASE_DIR
       downloader-publish serve [--port N] (--base-url URL | --base-url-from-port) [options] RELEASE_DIR

Writes the wizard's info file for the files at the top of RELEASE_DIR: every
regular file is listed with its SHA-1 checksum and size. Symbolic links and
folders are left out.

  --base-url URL        address of RELEASE_DIR on the web server ([Downloads] Path);
                        required (serve: or --base-url-from-port)
  --setup NAME          the setup program, as named once downloaded; listed first
                        unless --order says otherwise
  --wizard-version V    newest wizard version, digits and dots ([General] Version);
  --wizard-name NAME      with the wizard's file name ([General] Downloader)
  --wizard-url URL        and the address of its folder ([General] Path)
  --wizard-file PATH    the newer wizard's file: its SHA-256 is listed
                        ([General] DownloaderSHA256), which a wizard with a built-in
                        key needs before it starts a newer one
  --title TEXT          product title line ([Info] Line1)
  --link URL            product page ([Info] Link)
  --info-link TEXT      caption of the link to the product page ([Info] Info Link)
  --info-size TEXT      size text shown to the user ([Info] Info Size);
                        default like "3 files, 120 MB in all"
  --end1 TEXT           first closing text ([Info] End1)
  --end2 TEXT           second closing text ([Info] End2)
  --order A,B,C         download these files first, in this order; the others
                        follow in name order (default: setup first, then name order)
  --order-file FILE     the same, one name a line
  --resume              let the wizard resume broken transfers with range requests and
                        skip files already verified in the destination ([Downloads] Resume)
  --rename NAME         the file arriving as NAME is served as NAME.rename: RELEASE_DIR
                        must hold NAME.rename (its checksum is listed) and no NAME.
                        The wizard fetches NAME.rename and moves it to NAME, replacing
                        a file of that name. Any file whose name ends in ".rename" is
                        treated so, with or without this option.
  -o FILE               write the info file to FILE instead of standard output; when
                        FILE lies in RELEASE_DIR it is not listed itself. A link is
                        followed, a FIFO or device written directly; a file is
                        replaced whole and keeps its permissions
  --sign SECRET_KEY     sign the info file with the vendor's minisign secret key
                        file: runs "minisign -S", which writes FILE.minisig beside
                        the -o FILE (minisign asks for the key's password itself),
                        with the signing time in its trusted comment. The info
                        file then names its own address ([General] InfoAddress):
                        --base-url, "/" and the name of FILE, unless
                        --info-address says otherwise
  --info-address URL    the address the wizard fetches the info file from, exactly
                        as its lookup gives it ([General] InfoAddress); a wizard with
                        a built-in key refuses the file fetched from anywhere else
  --release NUMBER      the release number the info service is asked for
                        ([General] Release); a wizard with a built-in key started
                        with a release number refuses the file for another one
  --help                show this text
  --version             show the version

Every file is listed with its SHA-256 too ([Checksum256]); a wizard with a
built-in key checks it beside the SHA-1, one without a key ignores it.

serve: serves RELEASE_DIR and the info file (as /info.ini) on 127.0.0.1 until
interrupted, and prints the info file's address as the first line. With
--sign, the signature of the generated info file is served as /info.ini.minisig,
and the info file names that printed address as its InfoAddress.
  --port N              port to listen on (default: one the system picks)
  --base-url-from-port  use this server's own address as --base-url

Names are as in RELEASE_DIR (--order, --order-file, --rename) or as downloaded
(--setup). A name the wizard could not use (empty, "." or "..", with "/", "\", control
characters, '#', '?', '%' or blanks at either end) stops the tool with status 1.
)";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct TOptions {
    bool serve = false;
    bool help = false;
    bool version = false;
    std::string folder;
    std::string output;
    std::optional<int> port;
    bool baseUrlFromPort = false;
    std::vector<std::string> order;
    std::string orderFile;
    bool orderGiven = false;
    std::vector<std::string> renamed;
    std::string wizardFile;
    std::string secretKey;
    TReleaseDescription release;
};

std::vector<std::string> SplitList(const std::string& aText)
{
    std::vector<std::string> items;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = aText.find(',', start);
        items.push_back(aText.substr(start, comma - start));
        if (comma == std::string::npos)
            return items;
        start = comma + 1;
    }
}

int ParsePort(const std::string& aText)
{
    std::size_t used = 0;
    int port = -1;
    try {
        port = std::stoi(aText, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != aText.size() || port < 0 || port > 65535)
        throw UsageError("--port needs a number from 0 to 65535, not " + aText);
    return port;
}

TOptions ParseArguments(int aArgc, char** aArgv)
{
    TOptions options;
    std::vector<std::string> args(aArgv + 1, aArgv + aArgc);
    std::size_t i = 0;
    if (!args.empty() && args[0] == "serve") {
        options.serve = true;
        ++i;
    }
    const std::map<std::string, std::string*> texts = {
        {"--base-url", &options.release.baseUrl},
        {"--setup", &options.release.setup},
        {"--wizard-version", &options.release.wizardVersion},
        {"--wizard-name", &options.release.wizardName},
        {"--wizard-url", &options.release.wizardUrl},
        {"--title", &options.release.title},
        {"--link", &options.release.link},
        {"--info-link", &options.release.infoLink},
        {"--info-size", &options.release.infoSize},
        {"--end1", &options.release.end1},
        {"--end2", &options.release.end2},
        {"-o", &options.output},
        {"--order-file", &options.orderFile},
        {"--wizard-file", &options.wizardFile},
        {"--sign", &options.secretKey},
        {"--info-address", &options.release.infoAddress},
        {"--release", &options.release.release},
    };
    std::vector<std::string> positional;
    for (; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (name.rfind("--", 0) == 0 && name.find('=') != std::string::npos) {
            value = name.substr(name.find('=') + 1);
            name = name.substr(0, name.find('='));
        }
        const auto takeValue = [&]() -> std::string {
            if (value)
                return *value;
            if (i + 1 >= args.size())
                throw UsageError(name + " needs a value");
            return args[++i];
        };
        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else if (const auto text = texts.find(name); text != texts.end()) {
            *text->second = takeValue();
        } else if (name == "--order") {
            options.order = SplitList(takeValue());
            options.orderGiven = true;
        } else if (name == "--resume") {
            options.release.resume = true;
        } else if (name == "--rename") {
            options.renamed.push_back(takeValue());
        } else if (options.serve && name == "--port") {
            options.port = ParsePort(takeValue());
        } else if (options.serve && name == "--base-url-from-port") {
            options.baseUrlFromPort = true;
        } else if (name == "--") {
            positional.insert(positional.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                              args.end());
            break;
        } else if (name.size() > 1 && name[0] == '-') {
            throw UsageError("unknown option " + name);
        } else {
            positional.push_back(args[i]);
        }
    }
    if (options.help || options.version)
        return options;
    if (positional.size() != 1)
        throw UsageError("give exactly one RELEASE_DIR");
    options.folder = positional[0];
    if (options.serve && !options.output.empty())
        throw UsageError("serve writes no info file; -o is for the plain command");
    if (!options.secretKey.empty() && !options.serve && options.output.empty())
        throw UsageError("--sign needs -o FILE: the signature is written beside the info file");
    if (options.orderGiven && !options.orderFile.empty())
        throw UsageError("give --order or --order-file, not both");
    if (options.baseUrlFromPort && !options.release.baseUrl.empty())
        throw UsageError("give --base-url or --base-url-from-port, not both");
    if (!options.baseUrlFromPort && options.release.baseUrl.empty())
        throw UsageError(options.serve ? "serve needs --base-url or --base-url-from-port"
                                       : "--base-url is required");
    return options;
}

std::vector<std::string> ReadOrderFile(const std::string& aPath)
{
    std::ifstream in(aPath, std::ios::binary);
    if (!in)
        throw std::system_error(errno, std::generic_category(), "cannot read order file " + aPath);
    std::vector<std::string> names;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            names.push_back(line);
    }
    return names;
}

// The file name of aOutput when it would land inside aFolder, so that the
// info file never lists itself.
std::optional<std::string> OutputInside(const std::string& aFolder, const std::string& aOutput)
{
    if (aOutput.empty())
        return std::nullopt;
    std::error_code error;
    const fs::path folder = fs::weakly_canonical(aFolder, error);
    const fs::path parent = fs::weakly_canonical(fs::absolute(aOutput).parent_path(), error);
    if (!error && folder == parent)
        return fs::path(aOutput).filename().string();
    return std::nullopt;
}

// Lists, hashes and orders the release files; aSkip names files to leave out.
TReleaseDescription DescribeRelease(const TOptions& aOptions, const std::vector<std::string>& aSkip)
{
    TFolderListing listing = ListReleaseFolder(aOptions.folder, aSkip);
    for (const std::string& note : listing.notes)
        std::cerr << "downloader-publish: " << note << '\n';
    for (const std::string& name : aOptions.renamed) {
        if (const auto refusal = RefusalOfFileName(name))
            throw std::invalid_argument("cannot use --rename \"" + name + "\": " + *refusal);
        const std::string served = name + ".rename";
        const bool present = std::any_of(listing.files.begin(), listing.files.end(),
                                         [&](const TReleaseFile& aFile) { return aFile.name == served; });
        if (!present)
            throw std::invalid_argument("cannot list \"" + served + "\": " + aOptions.folder
                                        + " holds no file of that name; a file renamed on arrival must be"
                                          " served under its .rename name");
        // Two files arriving as NAME are refused when the info file is built.
    }
    TReleaseDescription release = aOptions.release;
    if (!aOptions.wizardFile.empty()) {
        release.wizardSha256 = FileDigestTexts(aOptions.wizardFile, true).sha256;
        release.wizardSize = std::filesystem::file_size(aOptions.wizardFile);
    }
    const std::vector<std::string> order =
        aOptions.orderFile.empty() ? aOptions.order : ReadOrderFile(aOptions.orderFile);
    release.files = OrderReleaseFiles(std::move(listing.files), order, release.setup);
    return release;
}

// Where a signed info file written to aOutput is published: in the release
// folder on the server, under its own name.
std::string PublishedAddress(std::string aBaseUrl, const std::string& aOutput)
{
    while (!aBaseUrl.empty() && aBaseUrl.back() == '/')
        aBaseUrl.pop_back();
    return aBaseUrl + "/" + fs::path(aOutput).filename().string();
}

void WriteOutput(const std::string& aOutput, const std::string& aText)
{
    if (aOutput.empty()) {
        std::fwrite(aText.data(), 1, aText.size(), stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            throw std::system_error(errno, std::generic_category(),
                                    "cannot write the info file to standard output");
        return;
    }
    WriteOutputFile(aOutput, aText);
}

int Publish(const TOptions& aOptions)
{
    // The file that is really written, for -o naming a link into the folder.
    std::vector<std::string> skip;
    if (const auto inside = OutputInside(aOptions.folder, ResolveOutputPath(aOptions.output))) {
        skip.push_back(*inside);
        skip.push_back(*inside + ".minisig");  // an earlier run's signature
    }
    if (!aOptions.secretKey.empty() && !fs::is_regular_file(aOptions.secretKey))
        throw std::invalid_argument("cannot sign with " + aOptions.secretKey + ": no such key file");
    TReleaseDescription release = DescribeRelease(aOptions, skip);
    if (!aOptions.secretKey.empty() && release.infoAddress.empty())
        release.infoAddress = PublishedAddress(release.baseUrl, aOptions.output);
    WriteOutput(aOptions.output, BuildInfoFile(release));
    if (!aOptions.secretKey.empty())
        SignWithMinisign(aOptions.secretKey, aOptions.output);
    return 0;
}

int Serve(const TOptions& aOptions)
{
    // Blocked before any thread starts, so that every thread inherits the
    // mask and the signals reach only sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const std::string infoName = fs::path(TReleaseServer::kInfoPath).filename().string();
    TReleaseDescription release = DescribeRelease(aOptions, {infoName, infoName + ".minisig"});
    if (fs::exists(fs::path(aOptions.folder) / infoName))
        std::cerr << "downloader-publish: not listed: " << infoName << " (" << TReleaseServer::kInfoPath
                  << " serves the generated info file)\n";
    std::map<std::string, std::string> files;
    for (const TReleaseFile& file : release.files)
        files.emplace(file.name, (fs::path(aOptions.folder) / file.name).string());

    TReleaseServer server(std::move(files), "");
    const int port = server.Bind(aOptions.port.value_or(0));
    const std::string origin = "http://127.0.0.1:" + std::to_string(port);
    if (aOptions.baseUrlFromPort)
        release.baseUrl = origin;
    if (!aOptions.secretKey.empty() && release.infoAddress.empty())
        release.infoAddress = origin + TReleaseServer::kInfoPath;
    const std::string infoText = BuildInfoFile(release);
    server.SetInfoText(infoText);
    if (!aOptions.secretKey.empty())
        server.SetInfoSignature(SignTextWithMinisign(aOptions.secretKey, infoText));

    std::atomic<bool> failed{false}, finished{false};
    std::thread serving([&] {
        failed = !server.Run();
        finished = true;
        if (failed)
            kill(getpid(), SIGTERM);  // wakes sigwait below
    });
    std::cout << origin << TReleaseServer::kInfoPath << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    // A stop that comes before the server has started listening is lost, so
    // it is repeated until the server is done, within bounds.
    for (int attempt = 0; !finished && attempt < 200; ++attempt) {
        server.Stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (!finished) {
        std::cerr << "downloader-publish: the server did not stop\n";
        std::_Exit(1);
    }
    serving.join();
    if (failed) {
        std::cerr << "downloader-publish: cannot serve on " << origin << '\n';
        return 1;
    }
    return 0;
}

}  // namespace

int main(int aArgc, char** aArgv)
{
    try {
        const TOptions options = ParseArguments(aArgc, aArgv);
        if (options.help) {
            std::cout << kUsage;
            return 0;
        }
        if (options.version) {
            std::cout << "downloader-publish " << kDownloaderVersion << '\n';
            return 0;
        }
        return options.serve ? Serve(options) : Publish(options);
    } catch (const UsageError& error) {
        std::cerr << "downloader-publish: " << error.what() << "\n(see downloader-publish --help)\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "downloader-publish: " << error.what() << '\n';
        return 1;
    }
}
