// Cell widths against the C library's own reading of the Unicode data, for
// every code point a name can hold.
#include "console/terminal_cells.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <locale.h>
#include <wchar.h>

#include <string>

namespace {

std::string Utf8(char32_t aCode)
{
    std::string text;
    AppendUtf8(text, aCode);
    return text;
}

bool IsControl(char32_t aCode)
{
    return aCode < 0x20 || (aCode >= 0x7F && aCode < 0xA0);
}

}  // namespace

TEST(TerminalCells, EveryCodePointAsTheCLibraryCountsIt)
{
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    ASSERT_NE(utf8, locale_t{}) << "Debian ships the C.UTF-8 locale in libc6";
    const locale_t previous = uselocale(utf8);
    std::size_t wrong = 0;
    std::size_t wide = 0;
    for (char32_t code = 0; code <= 0x10FFFF; ++code) {
        if (IsControl(code) || (code >= 0xD800 && code <= 0xDFFF))
            continue;  // replaced before display; no UTF-8 at all
        const int width = wcwidth(static_cast<wchar_t>(code));
        // Unknown to the library: counted wide, as a terminal may draw it.
        const std::size_t expected = width < 0 ? 2 : static_cast<std::size_t>(width);
        wide += width == 2 ? 1 : 0;
        const std::size_t cells = TextCells(Utf8(code));
        if (cells != expected && ++wrong <= 20)
            ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(code) << ": " << cells
                          << " cells, wcwidth " << width;
    }
    uselocale(previous);
    freelocale(utf8);
    EXPECT_EQ(wrong, 0u);
    EXPECT_GT(wide, 100000u) << "the wide blocks of CJK alone hold more";
}

TEST(TerminalCells, ATextIsTheSumOfItsCharacters)
{
    // "a", U+00E9, U+0301 (a combining mark), U+4E00, U+1F680.
    EXPECT_EQ(TextCells("a\xC3\xA9\xCC\x81\xE4\xB8\x80\xF0\x9F\x9A\x80"), 1u + 1 + 0 + 2 + 2);
    EXPECT_EQ(TextCells(""), 0u);
}
