#pragma once
// The command line both digest benchmarks share: FILE [ROUNDS].

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

// Calls aRun(file, rounds) and turns a bad command line or an exception into
// an exit code (2 and 1).
inline int RunDigestBenchmark(int argc, char** argv, const char* aName, int (*aRun)(const std::string&, int))
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FILE [ROUNDS]\n", argv[0]);
        return 2;
    }
    const int rounds = argc == 3 ? std::atoi(argv[2]) : 7;
    if (rounds < 1) {
        std::fprintf(stderr, "rounds must be a positive number\n");
        return 2;
    }
    try {
        return aRun(argv[1], rounds);
    } catch (const std::exception& aError) {
        std::fprintf(stderr, "%s: %s\n", aName, aError.what());
        return 1;
    }
}
