#pragma once
// What both digest benchmarks share: the command line FILE [ROUNDS] and the
// median of their rounds.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

inline double Median(std::vector<double> aValues)
{
    std::sort(aValues.begin(), aValues.end());
    const std::size_t middle = aValues.size() / 2;
    return aValues.size() % 2 ? aValues[middle] : (aValues[middle - 1] + aValues[middle]) / 2;
}

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
