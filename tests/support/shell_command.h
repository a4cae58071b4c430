#pragma once
// Running a program the way a user would, through /bin/sh, for tests of the
// programs themselves.

#include <string>

// A shell word that stands for aText as it is.
std::string ShellQuoted(const std::string& aText);
// Runs aCommand with /bin/sh and returns its exit status, or -1 when it did
// not exit by itself; aOutput receives what it wrote to its standard output
// (add "2>&1" to the command for the errors too).
int RunShellCommand(const std::string& aCommand, std::string& aOutput);
