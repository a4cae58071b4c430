#include "tests/support/shell_command.h"

#include <cstdio>

#include <sys/wait.h>

std::string ShellQuoted(const std::string& aText)
{
    std::string quoted = "'";
    for (const char c : aText)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int RunShellCommand(const std::string& aCommand, std::string& aOutput)
{
    aOutput.clear();
    std::FILE* pipe = popen(aCommand.c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char buffer[4096];
    while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
        aOutput.append(buffer, got);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
