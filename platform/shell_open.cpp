#include "platform/shell_open.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "platform/posix_util.h"

extern char** environ;

namespace {

class SpawnSetup {
public:
    SpawnSetup()
    {
        posix_spawn_file_actions_init(&mActions);
        posix_spawnattr_init(&mAttributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup()
    {
        posix_spawnattr_destroy(&mAttributes);
        posix_spawn_file_actions_destroy(&mActions);
    }
    posix_spawn_file_actions_t* Actions() { return &mActions; }
    posix_spawnattr_t* Attributes() { return &mAttributes; }

private:
    posix_spawn_file_actions_t mActions;
    posix_spawnattr_t mAttributes;
};

std::string VariableName(const std::string& aEntry)
{
    return aEntry.substr(0, aEntry.find('='));
}

std::vector<std::string> ChildEnvironment(const std::vector<std::string>& aExtra)
{
    std::vector<std::string> result;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text = *entry;
        const bool overridden = std::any_of(aExtra.begin(), aExtra.end(), [&](const std::string& aOther) {
            return VariableName(aOther) == VariableName(text);
        });
        if (!overridden)
            result.push_back(text);
    }
    result.insert(result.end(), aExtra.begin(), aExtra.end());
    return result;
}

std::vector<char*> PointersTo(std::vector<std::string>& aTexts)
{
    std::vector<char*> pointers;
    for (std::string& text : aTexts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

int ExitCodeOf(int aStatus)
{
    if (WIFEXITED(aStatus))
        return WEXITSTATUS(aStatus);
    if (WIFSIGNALED(aStatus))
        return 128 + WTERMSIG(aStatus);
    return -1;
}

// Short enough that a stop feels immediate, long enough to cost nothing.
constexpr std::chrono::milliseconds kStopPollInterval{25};

int WaitFor(pid_t aChild, const std::atomic<bool>* aStopRequested = nullptr)
{
    int status = 0;
    // The flag is typically set by a signal handler on some other thread,
    // which leaves a blocking waitpid here asleep; a stoppable wait therefore
    // polls the child and the flag in turn.
    bool stopSent = aStopRequested == nullptr;
    for (;;) {
        const pid_t ended = waitpid(aChild, &status, stopSent ? 0 : WNOHANG);
        if (ended == aChild)
            return ExitCodeOf(status);
        if (ended < 0) {
            if (errno != EINTR)
                return -1;
            continue;
        }
        if (aStopRequested->load()) {
            // Once only: the program may clean up and choose its own exit code.
            kill(aChild, SIGTERM);
            stopSent = true;
        } else {
            std::this_thread::sleep_for(kStopPollInterval);
        }
    }
}

// After fork, in the child of a threaded process: only async-signal-safe
// calls until the exec. aFd is the program's descriptor; a script's must
// stay open across the exec, as the interpreter is handed /dev/fd/N.
[[noreturn]] void ExecDescriptorInChild(int aFd, bool aScript, bool aQuietInput, char* const* aArgv,
                                        char* const* aEnvp, int aReportFd)
{
    if (aQuietInput) {
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0 && null != STDIN_FILENO) {
            ::dup2(null, STDIN_FILENO);
            ::close(null);
        }
    }
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigprocmask(SIG_SETMASK, &noSignals, nullptr);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &defaultAction, nullptr);
    if (aScript)
        ::fcntl(aFd, F_SETFD, 0);
    ::execveat(aFd, "", aArgv, aEnvp, AT_EMPTY_PATH);
    const int error = errno;
    [[maybe_unused]] const ssize_t written = ::write(aReportFd, &error, sizeof error);
    ::_exit(127);
}

// Reports a started child: waited for, or reaped in the background.
TShellOpenResult AfterStart(pid_t aChild, const TShellOpenOptions& aOptions)
{
    if (aOptions.wait)
        return {true, WaitFor(aChild, aOptions.stopRequested)};
    try {
        std::thread([aChild] { WaitFor(aChild); }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the child stays a zombie until this process
        // ends, which is harmless next to not starting it.
    }
    return {true, -1};
}

bool StartsWithShebang(int aFd)
{
    char head[2] = {};
    ssize_t count = 0;
    do {
        count = ::pread(aFd, head, sizeof head, 0);
    } while (count < 0 && errno == EINTR);
    return count == 2 && head[0] == '#' && head[1] == '!';
}

}  // namespace

bool IsExecutableImage(const std::string& aPath)
{
    // O_NONBLOCK: a FIFO under that name must not hang the caller.
    UniqueFd file{open(aPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    return file && IsDescriptorImage(file.Get());
}

TShellOpenResult ShellOpen(const std::string& aPath, const std::vector<std::string>& aArgs,
                           const TShellOpenOptions& aOptions)
{
    struct stat info {};
    const bool direct = aOptions.runPrograms && stat(aPath.c_str(), &info) == 0 && S_ISREG(info.st_mode)
                        && IsExecutableImage(aPath);
    std::vector<std::string> arguments;
    if (direct) {
        // Downloads arrive without the execute bit; a failure here shows up
        // as a failed start below.
        if ((info.st_mode & S_IXUSR) == 0)
            chmod(aPath.c_str(), (info.st_mode & 07777) | S_IXUSR);
        arguments.push_back(aPath);
        arguments.insert(arguments.end(), aArgs.begin(), aArgs.end());
    } else {
        arguments.push_back(aOptions.opener);
        // The opener would take a name that starts with "-" for an option.
        arguments.push_back(aPath.starts_with('-') ? "./" + aPath : aPath);
    }
    std::vector<std::string> environment = ChildEnvironment(aOptions.environment);
    std::vector<char*> argv = PointersTo(arguments);
    std::vector<char*> envp = PointersTo(environment);

    SpawnSetup setup;
    if (!aOptions.wait)
        posix_spawn_file_actions_addopen(setup.Actions(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // The child starts with no blocked signals and with SIGPIPE at its
    // default, whatever this process set up for its own threads and sockets.
    sigset_t noSignals;
    sigset_t defaultSignals;
    sigemptyset(&noSignals);
    sigemptyset(&defaultSignals);
    sigaddset(&defaultSignals, SIGPIPE);
    posix_spawnattr_setsigmask(setup.Attributes(), &noSignals);
    posix_spawnattr_setsigdefault(setup.Attributes(), &defaultSignals);
    posix_spawnattr_setflags(setup.Attributes(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t child = 0;
    const int failure = direct ? posix_spawn(&child, aPath.c_str(), setup.Actions(), setup.Attributes(),
                                             argv.data(), envp.data())
                               : posix_spawnp(&child, aOptions.opener.c_str(), setup.Actions(),
                                              setup.Attributes(), argv.data(), envp.data());
    if (failure != 0)
        return {};
    return AfterStart(child, aOptions);
}

TShellOpenResult ShellOpenDescriptor(int aFd, const std::string& aPath, const std::vector<std::string>& aArgs,
                                     const TShellOpenOptions& aOptions)
{
    struct stat info {};
    const bool direct =
        aOptions.runPrograms && ::fstat(aFd, &info) == 0 && S_ISREG(info.st_mode) && IsDescriptorImage(aFd);
    // As for a name: a download comes without the execute bit, and a failure
    // here shows up as a failed start below.
    if (direct && (info.st_mode & S_IXUSR) == 0)
        ::fchmod(aFd, (info.st_mode & 07777) | S_IXUSR);
    if (!direct)
        return ShellOpen(aPath, aArgs,
                         TShellOpenOptions{aOptions.wait, aOptions.environment, aOptions.opener, false,
                                           aOptions.stopRequested});
    std::vector<std::string> arguments{aPath};
    arguments.insert(arguments.end(), aArgs.begin(), aArgs.end());
    std::vector<std::string> environment = ChildEnvironment(aOptions.environment);
    // Everything the child needs is made before the fork: it may not allocate.
    std::vector<char*> argv = PointersTo(arguments);
    std::vector<char*> envp = PointersTo(environment);
    const bool script = StartsWithShebang(aFd);

    // The child reports a failed exec through this pipe; a successful one
    // closes it (close-on-exec), so the parent reads nothing.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return {};
    UniqueFd reportRead{report[0]};
    UniqueFd reportWrite{report[1]};
    const pid_t child = ::fork();
    if (child < 0)
        return {};
    if (child == 0)
        ExecDescriptorInChild(aFd, script, !aOptions.wait, argv.data(), envp.data(), reportWrite.Get());
    reportWrite.Close();
    int childError = 0;
    ssize_t got = 0;
    do {
        got = ::read(reportRead.Get(), &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        WaitFor(child);
        return {};
    }
    return AfterStart(child, aOptions);
}

bool IsDescriptorImage(int aFd)
{
    char head[4] = {};
    std::size_t have = 0;
    while (have < sizeof head) {
        const ssize_t count = ::pread(aFd, head + have, sizeof head - have, static_cast<off_t>(have));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        have += static_cast<std::size_t>(count);
    }
    return (have >= 2 && head[0] == '#' && head[1] == '!')
           || (have == 4 && head[0] == '\x7f' && head[1] == 'E' && head[2] == 'L' && head[3] == 'F');
}
