#pragma once
// The program's windowed mode: creates the application, runs the wizard
// window until it is closed and returns the exit code. When no display can be
// opened it says so in one line on stderr and returns 1.

#include "engine/thread_downloads.h"

int RunWizardWindow(int& argc, char** argv, TWorkerEnvironment aEnvironment);
