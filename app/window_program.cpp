#include "app/window_program.h"

#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string>

#include "platform/posix_util.h"

namespace {

// This program's own folder, from the kernel's link: argv[0] may be a bare
// name found through PATH.
std::string OwnFolder()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    const std::string self(path, static_cast<std::size_t>(length));
    const auto slash = self.find_last_of('/');
    return slash == std::string::npos ? "." : self.substr(0, slash);
}

}  // namespace

int ExecWindowProgram(char** argv)
{
    const std::string folder = OwnFolder();
    int error = ENOENT;
    std::string tried;
    for (const std::string& candidate :
         {folder + "/downloader-window", folder + "/" + DOWNLOADER_WINDOW_RELATIVE_PATH}) {
        ::execv(candidate.c_str(), argv);
        error = errno;  // execv returns only when it failed
        tried = candidate;
        if (error != ENOENT)
            break;
    }
    std::cerr << "downloader: cannot start the window program " << tried << ": " << ErrnoText(error)
              << "\n(downloader --silent works without it)\n";
    return 1;
}
