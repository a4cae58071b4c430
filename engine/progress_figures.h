#pragma once
// Figures shown while files download, computed from the record. Pure
// functions: the window and the terminal display format the same numbers.

#include <cstdint>
#include <string>

class TDownloadData;

// Milliseconds left for the current file and for the whole run: a linear
// extrapolation of the average rate since the start tick, counting only the
// bytes this run fetched (ArchHeld, AcumHeld). 0 when there is nothing to go
// on yet; negative when more arrived than announced.
double FileTimeLeftMs(const TDownloadData& aData, std::uint32_t aNow);
double OverallTimeLeftMs(const TDownloadData& aData, std::uint32_t aNow);

// "HH<sep>mm<sep>ss" of the time of day that aMilliseconds reaches: whole days
// are dropped, so 25 hours show as 01:00:00.
std::string TimeOfDayText(double aMilliseconds, char aTimeSeparator = ':');

// aPercent with two decimals and aDecimalSeparator, followed by " %".
std::string PercentText(double aPercent, char aDecimalSeparator = '.');
