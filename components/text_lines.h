#pragma once
// Splitting a text file's bytes into lines, for the formats this program
// reads (settings hive, signature files).

#include <string_view>
#include <vector>

// The lines of aText without their line ends: "\n", or "\r\n" as a file that
// went through a Windows editor has. A final line end starts no extra line.
inline std::vector<std::string_view> SplitLines(std::string_view aText)
{
    std::vector<std::string_view> lines;
    while (!aText.empty()) {
        const auto end = aText.find('\n');
        std::string_view line = aText.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos)
            break;
        aText.remove_prefix(end + 1);
    }
    return lines;
}
