#include "engine/progress_figures.h"

#include <cmath>
#include <cstdio>

#include "engine/download_data.h"

namespace {

// aHeld of aDone came without this run's time: the rate counts only the rest.
double Extrapolate(double aElapsed, double aDone, double aTotal, double aHeld = 0)
{
    const double fetched = aDone - aHeld;
    if (!(fetched > 0) || !(aElapsed > 0))
        return 0;
    const double estimate = aElapsed * (aTotal - aDone) / fetched;
    return std::isfinite(estimate) ? estimate : 0;
}

}  // namespace

double FileTimeLeftMs(const TDownloadData& aData, std::uint32_t aNow)
{
    const auto done = static_cast<double>(aData.ArchProgreso());
    const auto total = static_cast<double>(aData.ArchProgresoMax());
    return Extrapolate(aNow - aData.TStart(), done, total, static_cast<double>(aData.ArchHeld()));
}

double OverallTimeLeftMs(const TDownloadData& aData, std::uint32_t aNow)
{
    return Extrapolate(aNow - aData.TAcumStart(), aData.Acumulado(), aData.Size(),
                       aData.AcumHeld() + static_cast<double>(aData.ArchHeld()));
}

std::string TimeOfDayText(double aMilliseconds, char aTimeSeparator)
{
    if (!std::isfinite(aMilliseconds) || aMilliseconds < 0)
        aMilliseconds = 0;
    // Days go before the conversion: an estimate from an absurd announced
    // size may not fit any integer.
    const auto seconds = static_cast<unsigned>(std::fmod(std::floor(aMilliseconds / 1000.0), 86400.0));
    char text[16];
    std::snprintf(text, sizeof text, "%02u%c%02u%c%02u", static_cast<unsigned>(seconds / 3600),
                  aTimeSeparator, static_cast<unsigned>(seconds / 60 % 60), aTimeSeparator,
                  static_cast<unsigned>(seconds % 60));
    return text;
}

std::string PercentText(double aPercent, char aDecimalSeparator)
{
    if (!std::isfinite(aPercent))
        aPercent = 0;
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", aPercent);
    std::string result = text;
    if (const auto dot = result.find('.'); dot != std::string::npos)
        result[dot] = aDecimalSeparator;
    return result + " %";
}
