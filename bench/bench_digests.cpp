// What the SHA-256 of a signed release costs the check of a file: the SHA-1
// alone against the SHA-1 and the SHA-256 from the same read, in alternating
// rounds on a cached file. Usage: bench-digests FILE [ROUNDS]
// The last line of output is: digests ratio R (sha1 X MB/s, sha1+sha256 Y MB/s)

#include "bench/bench_main.h"
#include "components/file_digests.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

template <typename Hash> double TimeSeconds(Hash aHash)
{
    const auto start = Clock::now();
    aHash();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int Run(const std::string& aFileName, int aRounds)
{
    const double megabytes = static_cast<double>(std::filesystem::file_size(aFileName)) / 1e6;
    std::printf("file %s, %.1f MB, %d rounds\n", aFileName.c_str(), megabytes, aRounds);
    const auto sha1 = [&] { FileDigestTexts(aFileName); };
    const auto both = [&] { FileDigestTexts(aFileName, true); };
    sha1();  // into the page cache
    std::vector<double> sha1Seconds, bothSeconds;
    for (int round = 0; round < aRounds; ++round) {
        if (round % 2 == 0) {
            sha1Seconds.push_back(TimeSeconds(sha1));
            bothSeconds.push_back(TimeSeconds(both));
        } else {
            bothSeconds.push_back(TimeSeconds(both));
            sha1Seconds.push_back(TimeSeconds(sha1));
        }
        std::printf("round %d: sha1 %.0f MB/s, sha1+sha256 %.0f MB/s\n", round + 1,
                    megabytes / sha1Seconds.back(), megabytes / bothSeconds.back());
    }
    const double sha1Rate = megabytes / Median(sha1Seconds);
    const double bothRate = megabytes / Median(bothSeconds);
    std::printf("digests ratio %.3f (sha1 %.0f MB/s, sha1+sha256 %.0f MB/s)\n", bothRate / sha1Rate, sha1Rate,
                bothRate);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    return RunDigestBenchmark(argc, argv, "bench-digests", Run);
}
