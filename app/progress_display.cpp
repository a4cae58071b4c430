#include "app/progress_display.h"

#include <QRegularExpression>
#include <algorithm>
#include <climits>
#include <cmath>

#include "engine/progress_figures.h"

QString LocalePercentText(double aPercent, const QLocale& aLocale)
{
    QString text = QString::fromStdString(PercentText(aPercent, '.'));
    return text.replace(u'.', aLocale.decimalPoint());
}

QString TimeSeparator(const QLocale& aLocale)
{
    // "HH:mm", "h.mm AP", "H' h 'mm": whatever stands between the hours and the minutes.
    static const QRegularExpression between(QStringLiteral("[hH]+([^hHm]+)m"));
    const QRegularExpressionMatch match = between.match(aLocale.timeFormat(QLocale::ShortFormat));
    QString separator = match.hasMatch() ? match.captured(1) : QString();
    separator.remove(u'\'');
    return separator.isEmpty() ? QStringLiteral(":") : separator;
}

QString LocaleTimeText(double aMilliseconds, const QLocale& aLocale)
{
    QString text = QString::fromStdString(TimeOfDayText(aMilliseconds, ':'));
    return text.replace(u':', TimeSeparator(aLocale));
}

TBarFigures ScaleForBar(double aPosition, double aMaximum)
{
    if (!std::isfinite(aPosition) || aPosition < 0)
        aPosition = 0;
    if (!std::isfinite(aMaximum) || aMaximum < 1)
        return aPosition > 0 ? TBarFigures{0, 0} : TBarFigures{1, 0};
    if (aMaximum <= static_cast<double>(INT_MAX)) {
        const int maximum = static_cast<int>(aMaximum);
        return {maximum, static_cast<int>(std::min(std::trunc(aPosition), static_cast<double>(maximum)))};
    }
    const double share = std::min(aPosition / aMaximum, 1.0);
    return {kBarScale, static_cast<int>(share * kBarScale)};
}

bool TStallWatch::Check(std::uint64_t aProgress, std::uint32_t aNow)
{
    if (mLastProgreso != 0 && mProgreso != 0 && mProgreso == aProgress)
        return static_cast<std::uint32_t>(aNow - mLastProgreso) > kStallWatchLimitMs;
    mLastProgreso = aNow;
    mProgreso = aProgress;
    return false;
}
