#pragma once
// How many cells a terminal gives a text: the widths come from the Unicode
// data the C library ships (wcwidth under a UTF-8 locale), selected for this
// thread only, so the process's own locale stays as it is. Pure; any thread.

#include <cstddef>
#include <string_view>

// The cells of one code point: 2 for wide and full-width characters and the
// emoji drawn wide, 0 for combining marks and other characters drawn on the
// cell before them, 1 for everything else; 2 for a code point the C library
// does not know (unassigned): a terminal may draw it wide.
// Control characters are not asked about: shown text has them replaced.
std::size_t CodePointCells(char32_t aCode);

// The cells of valid UTF-8 text without control characters.
std::size_t TextCells(std::string_view aText);

// The cells of the character that starts at aText[aAt] (a lead byte).
std::size_t CellsAt(std::string_view aText, std::size_t aAt);

inline bool IsContinuationByte(char aByte)
{
    return (static_cast<unsigned char>(aByte) & 0xC0) == 0x80;
}
