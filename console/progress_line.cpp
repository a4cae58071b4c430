#include "console/progress_line.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <string_view>

#include "console/terminal_cells.h"
#include "engine/progress_figures.h"
#include "platform/text.h"

namespace {

constexpr int kBarCells = 20;
// Below this a name says too little; other parts go first.
constexpr std::size_t kShortestNameColumns = 16;
constexpr double kOneDayMs = 24.0 * 3600.0 * 1000.0;
const std::string kEllipsis = "...";

enum TLinePart : unsigned {
    lpBar = 1,
    lpCount = 2,
    lpFilePercent = 4,
    lpFileLeft = 8,
    lpTotalLeft = 16,
};

// Least useful first.
constexpr std::array kDropOrder{lpFileLeft, lpBar, lpFilePercent, lpTotalLeft, lpCount};

// Terminal cells, not bytes or characters.
std::size_t Columns(std::string_view aText)
{
    return TextCells(aText);
}

// The last characters of aName, with "..." in front when cut, in at most
// aColumns cells (aColumns > kEllipsis.size()).
std::string NameEnd(const std::string& aName, std::size_t aColumns)
{
    if (Columns(aName) <= aColumns)
        return aName;
    const std::size_t room = aColumns - kEllipsis.size();
    std::size_t used = 0;
    std::size_t start = aName.size();
    for (std::size_t at = aName.size(); at > 0;) {
        --at;
        if (IsContinuationByte(aName[at]))
            continue;
        const std::size_t cells = CellsAt(aName, at);
        if (cells == 0)
            continue;  // a mark goes with the character before it
        used += cells;
        if (used > room)
            break;
        start = at;
    }
    return kEllipsis + aName.substr(start);
}

bool IsSensible(double aMilliseconds)
{
    return std::isfinite(aMilliseconds) && aMilliseconds > 0 && aMilliseconds < kOneDayMs;
}

std::string ComposeLine(const TProgressLine& aLine, unsigned aParts, const std::string& aName)
{
    std::string line;
    const auto add = [&line](const std::string& aPiece, const char* aSeparator) {
        if (!line.empty())
            line += aSeparator;
        line += aPiece;
    };
    if (aParts & lpBar) {
        // NaN would pass the clamp, and its conversion to int is undefined.
        const double percent = std::isnan(aLine.totalPercent) ? 0.0 : aLine.totalPercent;
        const int filled = static_cast<int>(std::clamp(percent, 0.0, 100.0) * kBarCells / 100.0);
        // Filled in place: GCC 12 warns (-Wrestrict, falsely) about the
        // inlined copies of "[" + std::string(...).
        std::string bar(kBarCells + 2, '.');
        bar.front() = '[';
        bar.back() = ']';
        std::fill_n(bar.begin() + 1, filled, '#');
        add(bar, " ");
    }
    if (aParts & lpCount)
        add(std::to_string(aLine.number) + "/" + std::to_string(aLine.total), " ");
    if (!aName.empty())
        add(aName, " ");
    if (aParts & lpFilePercent) {
        std::string file = "file " + PercentText(aLine.filePercent);
        if (aParts & lpFileLeft)
            file += " (" + TimeOfDayText(aLine.fileLeftMs) + " left)";
        add(file, "  ");
    }
    std::string total = "total " + PercentText(aLine.totalPercent);
    if (aParts & lpTotalLeft)
        total += " (" + TimeOfDayText(aLine.totalLeftMs) + " left)";
    add(total, "  ");
    return line;
}

}  // namespace

std::string FormatProgressLine(const TProgressLine& aLine, int aColumns)
{
    const std::size_t budget = aColumns > 1 ? static_cast<std::size_t>(aColumns - 1) : 0;
    const std::string name = PrintableText(aLine.fileName);
    const std::size_t nameColumns = Columns(name);
    const std::size_t shortestName = std::min(nameColumns, kShortestNameColumns);

    unsigned parts = lpBar | lpCount | lpFilePercent;
    if (IsSensible(aLine.fileLeftMs))
        parts |= lpFileLeft;
    if (IsSensible(aLine.totalLeftMs))
        parts |= lpTotalLeft;

    // The room a name has next to aParts: the line with a one-character name,
    // less that character. Negative when even the other parts do not fit.
    const auto nameRoom = [&](unsigned aParts) {
        const auto others = static_cast<std::ptrdiff_t>(Columns(ComposeLine(aLine, aParts, "x"))) - 1;
        return static_cast<std::ptrdiff_t>(budget) - others;
    };
    const auto fits = [](std::ptrdiff_t aRoom, std::size_t aColumns) {
        return aRoom >= static_cast<std::ptrdiff_t>(aColumns);
    };
    for (std::size_t dropped = 0;; ++dropped) {
        const std::ptrdiff_t room = nameRoom(parts);
        if (fits(room, nameColumns))
            return ComposeLine(aLine, parts, name);
        if (fits(room, shortestName) && fits(room, kEllipsis.size() + 1))
            return ComposeLine(aLine, parts, NameEnd(name, static_cast<std::size_t>(room)));
        if (dropped == kDropOrder.size())
            break;
        parts &= ~static_cast<unsigned>(kDropOrder[dropped]);
    }
    // Very narrow: whatever of the name fits, then the total cut to size.
    const std::ptrdiff_t room = nameRoom(parts);
    std::string line = ComposeLine(
        aLine, parts, fits(room, kEllipsis.size() + 1) ? NameEnd(name, static_cast<std::size_t>(room)) : "");
    if (Columns(line) > budget)  // then without a name: nothing but ASCII is left
        line.resize(budget);
    return line;
}
