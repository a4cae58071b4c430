#pragma once
// The one-line progress display of the terminal mode.

#include <cstdint>
#include <string>

// The figures of one progress line. A time left of 0 or less means there is
// no estimate yet.
struct TProgressLine {
    std::int32_t number = 0;  // the current file's position in the list
    std::int32_t total = 0;
    std::string fileName;  // as the info file gives it
    double filePercent = 0;
    double fileLeftMs = 0;
    double totalPercent = 0;
    double totalLeftMs = 0;
};

// The progress line for a terminal aColumns wide, at most aColumns - 1
// terminal cells (a wide East Asian character takes two) so that it never
// wraps. A name too long loses its beginning
// ("...end.bin") first; then the least useful parts go, in this order: the
// file's time left, the bar, the file's percentage, the total time left, the
// file count. Control characters in the name show as "?". An estimate of a
// day or more is not shown. Pure; any thread.
std::string FormatProgressLine(const TProgressLine& aLine, int aColumns);
