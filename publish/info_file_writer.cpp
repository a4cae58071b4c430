#include "publish/info_file_writer.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>

#include "components/sha256.h"
#include "engine/ini_reader.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kRenameSuffix = ".rename";
constexpr std::string_view kLineEnd = "\r\n";

bool IsBlankChar(char aChar)
{
    return aChar == ' ' || aChar == '\t';
}

std::size_t CountChars(std::string_view aUtf8)
{
    return static_cast<std::size_t>(std::count_if(aUtf8.begin(), aUtf8.end(), [](char aChar) {
        return (static_cast<unsigned char>(aChar) & 0xC0) != 0x80;
    }));
}

// The reader trims blanks and takes off one pair of enclosing quotes, so a
// value that would lose something that way is written inside double quotes:
// the reader then takes off exactly the quotes we added.
std::string QuotedIfNeeded(const std::string& aValue)
{
    if (aValue.empty())
        return aValue;
    const bool blankEnds = IsBlankChar(aValue.front()) || IsBlankChar(aValue.back());
    const bool quoteEnds = aValue.size() >= 2 && (aValue.front() == '"' || aValue.front() == '\'')
                           && aValue.back() == aValue.front();
    return blankEnds || quoteEnds ? "\"" + aValue + "\"" : aValue;
}

void CheckText(std::string_view aWhat, const std::string& aValue)
{
    if (!IsValidUtf8(aValue))
        throw std::invalid_argument("cannot write " + std::string(aWhat) + ": the text is not valid UTF-8");
    if (aValue.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        throw std::invalid_argument("cannot write " + std::string(aWhat)
                                    + ": the text holds a line break or NUL");
    if (CountChars(aValue) > TIniReader::kMaxValueChars)
        throw std::invalid_argument("cannot write " + std::string(aWhat) + ": "
                                    + std::to_string(CountChars(aValue)) + " characters, the wizard reads "
                                    + std::to_string(TIniReader::kMaxValueChars));
}

void CheckWebAddress(std::string_view aWhat, const std::string& aAddress)
{
    CheckText(aWhat, aAddress);
    const bool hasHost = (StartsWithNoCase(aAddress, "http://") && aAddress.size() > 7)
                         || (StartsWithNoCase(aAddress, "https://") && aAddress.size() > 8);
    if (!hasHost || std::any_of(aAddress.begin(), aAddress.end(), [](char aChar) {
            return static_cast<unsigned char>(aChar) <= ' ' || aChar == 0x7F;
        }))
        throw std::invalid_argument("cannot use " + std::string(aWhat) + " " + aAddress
                                    + ": not an http:// or https:// address without blanks");
}

// The wizard turns the version into an integer by dropping the dots; a
// present but unreadable version ends its start-up with an error.
void CheckVersion(const std::string& aVersion)
{
    std::string digits;
    for (char c : aVersion) {
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c != '.')
            throw std::invalid_argument("cannot use wizard version " + aVersion
                                        + ": only digits and dots are allowed");
    }
    if (digits.empty())
        throw std::invalid_argument("cannot use wizard version " + aVersion + ": it holds no digit");
    const auto leading = digits.find_first_not_of('0');
    const std::string significant = leading == std::string::npos ? "0" : digits.substr(leading);
    const std::string limit = std::to_string(std::numeric_limits<std::int32_t>::max());
    if (significant.size() > limit.size() || (significant.size() == limit.size() && significant > limit))
        throw std::invalid_argument("cannot use wizard version " + aVersion
                                    + ": too large once its dots are removed");
}

void CheckFileName(std::string_view aWhat, const std::string& aName)
{
    if (const auto refusal = RefusalOfFileName(aName))
        throw std::invalid_argument("cannot list " + std::string(aWhat) + " \"" + aName + "\": " + *refusal);
}

void AppendKey(std::string& aOut, std::string_view aKey, const std::string& aValue)
{
    if (aValue.empty())
        return;
    aOut += aKey;
    aOut += '=';
    aOut += QuotedIfNeeded(aValue);
    aOut += kLineEnd;
}

std::string OneDecimal(double aValue)
{
    const auto tenths = static_cast<std::uint64_t>(aValue * 10 + 0.5);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

}  // namespace

std::optional<std::string> RefusalOfFileName(std::string_view aName)
{
    if (aName.empty())
        return "the name is empty";
    if (!IsValidUtf8(aName))
        return "the name is not valid UTF-8";
    if (IsBlankChar(aName.front()) || IsBlankChar(aName.back()))
        return "the name begins or ends with a blank";
    if (HasControlCharacter(aName))
        return "the name holds a control character";
    for (char c : aName) {
        if (c == '/' || c == '\\')
            return "the name holds a folder separator (\"/\" or \"\\\"); only plain file names are allowed";
        if (c == '#' || c == '?' || c == '%')
            return std::string("the name holds \"") + c
                   + "\", which the download address would read as syntax";
    }
    // The wizard refuses a "." or ".." path component, not dots elsewhere:
    // "setup..old.bin" is a file like any other. With the separators refused
    // above, the whole name is the one component.
    if (aName == "." || aName == ".." || aName == ".rename")
        return "the name is \"" + std::string(aName) + "\"";
    if (aName.front() == '.')
        return "the name starts with \".\", and the wizard refuses hidden files";
    // The wizard would have to move these to "." or "..", which it cannot.
    if (const std::string arrival = ArrivalName(aName); arrival == "." || arrival == "..")
        return "the name would arrive as \"" + arrival + "\"";
    if (CountChars(aName) > TIniReader::kMaxValueChars)
        return "the name is longer than the wizard reads";
    return std::nullopt;
}

std::string ArrivalName(std::string_view aName)
{
    if (aName.size() > kRenameSuffix.size()
        && aName.substr(aName.size() - kRenameSuffix.size()) == kRenameSuffix)
        aName.remove_suffix(kRenameSuffix.size());
    return std::string(aName);
}

std::string DescribeTotalSize(std::size_t aFileCount, std::uint64_t aTotalBytes)
{
    std::string text = std::to_string(aFileCount) + (aFileCount == 1 ? " file, " : " files, ");
    static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB", "PB"};
    if (aTotalBytes < 1024) {
        text += std::to_string(aTotalBytes) + (aTotalBytes == 1 ? " byte" : " bytes");
    } else {
        double value = static_cast<double>(aTotalBytes) / 1024;
        std::size_t unit = 0;
        while (value >= 1024 && unit + 1 < std::size(kUnits)) {
            value /= 1024;
            ++unit;
        }
        // One decimal while it says something ("1.5 MB"), whole numbers above ("120 MB").
        text += value < 9.95 ? OneDecimal(value) : std::to_string(static_cast<std::uint64_t>(value + 0.5));
        text += ' ';
        text += kUnits[unit];
    }
    return text + " in all";
}

std::vector<TReleaseFile> OrderReleaseFiles(std::vector<TReleaseFile> aFiles,
                                            const std::vector<std::string>& aOrder, std::string_view aSetup)
{
    std::sort(aFiles.begin(), aFiles.end(),
              [](const TReleaseFile& aLeft, const TReleaseFile& aRight) { return aLeft.name < aRight.name; });
    // Rank 0.. for the names given first, one rank after them for the rest;
    // the stable sort keeps the rest in name order.
    std::map<std::string, std::size_t, std::less<>> rank;
    for (const std::string& name : aOrder) {
        if (!rank.emplace(name, rank.size()).second)
            throw std::invalid_argument("cannot order the files: \"" + name + "\" is named twice");
        if (std::none_of(aFiles.begin(), aFiles.end(),
                         [&](const TReleaseFile& aFile) { return aFile.name == name; }))
            throw std::invalid_argument("cannot order the files: \"" + name
                                        + "\" is not among the release files");
    }
    if (aOrder.empty() && !aSetup.empty())
        for (const TReleaseFile& file : aFiles)
            if (ArrivalName(file.name) == aSetup)
                rank.emplace(file.name, 0);
    const auto rankOf = [&](const TReleaseFile& aFile) {
        const auto found = rank.find(aFile.name);
        return found == rank.end() ? rank.size() : found->second;
    };
    std::stable_sort(aFiles.begin(), aFiles.end(),
                     [&](const TReleaseFile& aLeft, const TReleaseFile& aRight) {
                         return rankOf(aLeft) < rankOf(aRight);
                     });
    return aFiles;
}

std::string BuildInfoFile(const TReleaseDescription& aRelease)
{
    const bool anyWizard =
        !aRelease.wizardVersion.empty() || !aRelease.wizardName.empty() || !aRelease.wizardUrl.empty();
    if (anyWizard) {
        if (aRelease.wizardVersion.empty() || aRelease.wizardName.empty() || aRelease.wizardUrl.empty())
            throw std::invalid_argument("cannot offer a wizard: its version, name and address go together");
        CheckVersion(aRelease.wizardVersion);
        CheckFileName("the wizard", aRelease.wizardName);
    }
    if (!aRelease.wizardSha256.empty()) {
        if (!anyWizard)
            throw std::invalid_argument("cannot give the wizard's SHA-256 without offering a wizard");
        if (!IsSha256Text(aRelease.wizardSha256))
            throw std::invalid_argument("cannot list the wizard's SHA-256: it is not 64 hexadecimal digits");
    }
    std::string wizardUrl = aRelease.wizardUrl;
    while (!wizardUrl.empty() && wizardUrl.back() == '/')
        wizardUrl.pop_back();
    if (anyWizard)
        CheckWebAddress("the wizard's address", wizardUrl);

    std::string baseUrl = aRelease.baseUrl;
    while (!baseUrl.empty() && baseUrl.back() == '/')
        baseUrl.pop_back();
    CheckWebAddress("the release address", baseUrl);

    std::set<std::string, std::less<>> arrivals;
    std::uint64_t totalBytes = 0;
    for (const TReleaseFile& file : aRelease.files) {
        CheckFileName("file", file.name);
        if (!arrivals.insert(ArrivalName(file.name)).second)
            throw std::invalid_argument("cannot list file \"" + file.name
                                        + "\": another file also arrives as \"" + ArrivalName(file.name)
                                        + "\"");
        if (file.sha1.size() != 40 || file.sha1.find_first_not_of("0123456789ABCDEF") != std::string::npos)
            throw std::invalid_argument("cannot list file \"" + file.name
                                        + "\": its checksum is not 40 upper-case hexadecimal digits");
        if (!IsSha256Text(file.sha256))
            throw std::invalid_argument("cannot list file \"" + file.name
                                        + "\": its SHA-256 is not 64 hexadecimal digits");
        if (file.size > std::numeric_limits<std::uint64_t>::max() - totalBytes)
            throw std::invalid_argument("cannot add up the release size: it overflows");
        totalBytes += file.size;
    }
    if (!aRelease.setup.empty()) {
        CheckFileName("the setup program", aRelease.setup);
        if (!arrivals.count(aRelease.setup))
            throw std::invalid_argument("cannot name \"" + aRelease.setup
                                        + "\" as the setup program: no release file arrives under that name");
    }
    const std::string infoSize =
        aRelease.infoSize.empty() ? DescribeTotalSize(aRelease.files.size(), totalBytes) : aRelease.infoSize;
    const std::pair<const char*, const std::string*> texts[] = {
        {"the title", &aRelease.title},
        {"the link", &aRelease.link},
        {"the link caption", &aRelease.infoLink},
        {"the size text", &infoSize},
        {"the first closing text", &aRelease.end1},
        {"the second closing text", &aRelease.end2},
        {"the info file's address", &aRelease.infoAddress},
        {"the release number", &aRelease.release},
    };
    for (const auto& [what, text] : texts)
        CheckText(what, *text);

    std::string out;
    out += "[General]";
    out += kLineEnd;
    AppendKey(out, "Version", aRelease.wizardVersion);
    AppendKey(out, "Downloader", aRelease.wizardName);
    AppendKey(out, "Setup", aRelease.setup);
    AppendKey(out, "Path", wizardUrl);
    AppendKey(out, "DownloaderSHA256", aRelease.wizardSha256);
    AppendKey(out, "InfoAddress", aRelease.infoAddress);
    AppendKey(out, "Release", aRelease.release);
    out += kLineEnd;
    out += "[Downloads]";
    out += kLineEnd;
    AppendKey(out, "Path", baseUrl);
    if (aRelease.resume)
        AppendKey(out, "Resume", "1");
    for (std::size_t i = 0; i < aRelease.files.size(); ++i)
        AppendKey(out, "File" + std::to_string(i + 1), aRelease.files[i].name);
    out += kLineEnd;
    out += "[Checksum]";
    out += kLineEnd;
    for (std::size_t i = 0; i < aRelease.files.size(); ++i)
        AppendKey(out, "File" + std::to_string(i + 1), aRelease.files[i].sha1);
    out += kLineEnd;
    out += "[Checksum256]";
    out += kLineEnd;
    for (std::size_t i = 0; i < aRelease.files.size(); ++i)
        AppendKey(out, "File" + std::to_string(i + 1), aRelease.files[i].sha256);
    out += kLineEnd;
    out += "[Size]";
    out += kLineEnd;
    for (std::size_t i = 0; i < aRelease.files.size(); ++i)
        AppendKey(out, "File" + std::to_string(i + 1), std::to_string(aRelease.files[i].size));
    if (aRelease.wizardSize)
        AppendKey(out, "Downloader", std::to_string(*aRelease.wizardSize));
    out += kLineEnd;
    out += "[Info]";
    out += kLineEnd;
    AppendKey(out, "Line1", aRelease.title);
    AppendKey(out, "Link", aRelease.link);
    AppendKey(out, "Info Link", aRelease.infoLink);
    AppendKey(out, "Total Files", std::to_string(aRelease.files.size()));
    AppendKey(out, "Info Size", infoSize);
    AppendKey(out, "Size", std::to_string(totalBytes));
    AppendKey(out, "End1", aRelease.end1);
    AppendKey(out, "End2", aRelease.end2);
    if (out.size() > TIniReader::kMaxFileBytes)
        throw std::invalid_argument("cannot describe " + std::to_string(aRelease.files.size())
                                    + " files in one info file: it would be larger than the "
                                    + std::to_string(TIniReader::kMaxFileBytes >> 20)
                                    + " MiB the wizard reads");
    return out;
}
