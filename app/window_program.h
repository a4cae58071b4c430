#pragma once
// The window lives in a program of its own, downloader-window, so that the
// program users start stays free of Qt: a silent run neither loads nor maps
// the window's libraries. This starts the window program in place of the
// calling one.

// Replaces this process with downloader-window and the same arguments; found
// beside this program (a build tree) or in its libexec folder (an install).
// Returns only when it cannot be started, after saying why on stderr; the
// result is then the exit code.
int ExecWindowProgram(char** argv);
