#pragma once
// Pure helpers of the download page's progress display: texts in the user's
// notation, bar scaling and the stall watch. No widgets here, so tests reach
// every rule. The figures themselves come from engine/progress_figures.h,
// which the terminal display shares.

#include <QLocale>
#include <QString>
#include <cstdint>

// "33.33 %": two decimals with the locale's decimal separator, no grouping.
QString LocalePercentText(double aPercent, const QLocale& aLocale);

// The separator between hours and minutes in the locale's short time format;
// ":" when the format has none.
QString TimeSeparator(const QLocale& aLocale);

// Whole days dropped, the rest as HH<sep>mm<sep>ss; 25 h gives 01:00:00.
QString LocaleTimeText(double aMilliseconds, const QLocale& aLocale);

// Progress bars hold int ranges; byte counts beyond INT_MAX are mapped onto
// 0..kBarScale so that files and releases of 2 GiB and more still show the
// right share. Positions are kept within 0..maximum. Without a maximum the
// bar is empty ({1, 0}), or busy ({0, 0}) while bytes arrive for a transfer
// of unknown length.
struct TBarFigures {
    int maximum = 0;
    int position = 0;
    bool operator==(const TBarFigures&) const = default;
};
inline constexpr int kBarScale = 10000;
TBarFigures ScaleForBar(double aPosition, double aMaximum);

// Watches the per-file figure: a non-zero figure that stays unchanged for more
// than kStallWatchLimitMs counts as a stalled download. Ticks wrap at 2^32; the
// difference is taken in unsigned 32-bit arithmetic so the wrap does no harm.
class TStallWatch {
public:
    static constexpr std::uint32_t kStallWatchLimitMs = 180000;

    // True when the download has stalled; the watch then keeps its figures,
    // so later checks stay true until the figure moves.
    bool Check(std::uint64_t aProgress, std::uint32_t aNow);
    // A new run starts watching afresh: the figure left from the last run
    // (still in the record until the first update) must not count as stalled.
    void Restart() { mLastProgreso = 0; }

private:
    std::uint64_t mProgreso = 0;      // the figure last seen changing
    std::uint32_t mLastProgreso = 0;  // tick it was taken at; 0 means never
};
