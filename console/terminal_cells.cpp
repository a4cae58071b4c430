#include "console/terminal_cells.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

#include <locale.h>
#include <wchar.h>

namespace {

// The C library's UTF-8 character data, made once for the whole run.
class TUtf8Locale {
public:
    TUtf8Locale() : mLocale(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {}
    ~TUtf8Locale()
    {
        if (mLocale != locale_t{})
            freelocale(mLocale);
    }
    TUtf8Locale(const TUtf8Locale&) = delete;
    TUtf8Locale& operator=(const TUtf8Locale&) = delete;

    // wcwidth of aCode under this locale; nothing when there is no such locale.
    bool Width(char32_t aCode, int& aWidth) const
    {
        if (mLocale == locale_t{})
            return false;
        const locale_t previous = uselocale(mLocale);
        aWidth = wcwidth(static_cast<wchar_t>(aCode));
        uselocale(previous);
        return true;
    }

private:
    const locale_t mLocale;
};

struct TCodeRange {
    char32_t first;
    char32_t last;
};

// Only for a system without the C.UTF-8 locale: the East Asian wide blocks
// and the common emoji, which cover most names.
constexpr TCodeRange kWideRanges[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x2E80, 0x303E},   {0x3041, 0x33FF},
    {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xA960, 0xA97F},   {0xAC00, 0xD7A3},
    {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},
    {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

constexpr TCodeRange kZeroWidthRanges[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A},
    {0x064B, 0x065F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
    {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
};

template <std::size_t N> bool InRanges(char32_t aCode, const TCodeRange (&aRanges)[N])
{
    return std::any_of(std::begin(aRanges), std::end(aRanges), [aCode](const TCodeRange& aRange) {
        return aCode >= aRange.first && aCode <= aRange.last;
    });
}

std::size_t FallbackCells(char32_t aCode)
{
    if (InRanges(aCode, kZeroWidthRanges))
        return 0;
    return InRanges(aCode, kWideRanges) ? 2 : 1;
}

}  // namespace

std::size_t CodePointCells(char32_t aCode)
{
    if (aCode < 0x80)
        return 1;
    static const TUtf8Locale utf8;
    int width = 0;
    if (!utf8.Width(aCode, width))
        return FallbackCells(aCode);
    // -1: a code point the C library does not know (unassigned, a
    // non-character). Terminals draw it in one cell or two, wide in the
    // blocks kept for CJK; a line a cell shorter is better than one that
    // wraps.
    return width < 0 ? 2 : static_cast<std::size_t>(width);
}

std::size_t CellsAt(std::string_view aText, std::size_t aAt)
{
    const auto lead = static_cast<unsigned char>(aText[aAt]);
    if (lead < 0x80)
        return 1;
    char32_t code = lead >= 0xF0 ? lead & 0x07 : lead >= 0xE0 ? lead & 0x0F : lead & 0x1F;
    for (std::size_t i = aAt + 1; i < aText.size() && IsContinuationByte(aText[i]); ++i)
        code = (code << 6) | (static_cast<unsigned char>(aText[i]) & 0x3F);
    return CodePointCells(code);
}

std::size_t TextCells(std::string_view aText)
{
    std::size_t cells = 0;
    for (std::size_t i = 0; i < aText.size(); ++i)
        if (!IsContinuationByte(aText[i]))
            cells += CellsAt(aText, i);
    return cells;
}
