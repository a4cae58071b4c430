#pragma once
// Builds the info file that describes one release, in exactly the form the
// wizard's reader (engine/ini_reader.h) reads back. Pure: no files, no clock.
// Every failure is std::invalid_argument with a message ready for the user.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TReleaseFile {
    std::string name;    // the name on the server and in the [Downloads] list
    std::string sha1;    // 40 upper-case hexadecimal digits of the file as served
    std::string sha256;  // 64 hexadecimal digits, for a signed release's [Checksum256]
    std::uint64_t size = 0;
};

struct TReleaseDescription {
    // [General]: the newest wizard. All three or none; none leaves "Version"
    // out, which the wizard reads as "0", never newer.
    std::string wizardVersion;
    std::string wizardName;
    std::string wizardUrl;
    // The wizard's SHA-256 ([General] DownloaderSHA256), which a signed
    // release needs before it starts a newer wizard; empty: none.
    std::string wizardSha256;
    // [General] InfoAddress and Release: where a signed info file is
    // published and the release number it answers, so that a wizard with a
    // key refuses it anywhere else; empty: none.
    std::string infoAddress;
    std::string release;
    // The wizard's size in bytes ([Size] Downloader), at which wizards stop
    // its transfer; none: not listed.
    std::optional<std::uint64_t> wizardSize;
    std::string setup;                // the setup program's name once downloaded (after any ".rename")
    std::string baseUrl;              // [Downloads] Path; trailing "/" are removed
    std::vector<TReleaseFile> files;  // in download order
    bool resume = false;              // [Downloads] Resume=1: wizards resume and skip files
    // [Info]
    std::string title;  // Line1
    std::string link;
    std::string infoLink;
    std::string infoSize;  // empty: DescribeTotalSize of the files
    std::string end1;
    std::string end2;
};

// Why the wizard could not use aName as a release file name, or nothing when
// it can: the name is empty, has blanks at either end, contains "/", "\",
// a control character, or '#', '?', '%' (which an address would read as
// syntax), is ".", "..", ".rename" or arrives as "." or "..", or is not
// valid UTF-8.
std::optional<std::string> RefusalOfFileName(std::string_view aName);

// The name under which a file listed as aName ends up in the destination
// folder: the wizard moves "X.rename" to "X".
std::string ArrivalName(std::string_view aName);

// "3 files, 120 MB in all": the default "Info Size" text. Units of 1024.
std::string DescribeTotalSize(std::size_t aFileCount, std::uint64_t aTotalBytes);

// Puts aFiles in download order. With an empty aOrder: name order (bytewise),
// except that the file arriving as aSetup comes first. Otherwise the files
// named in aOrder (names as served) come first in that order, the others
// after them in name order. Throws for a name in aOrder that is not among the
// files or that is given twice.
std::vector<TReleaseFile> OrderReleaseFiles(std::vector<TReleaseFile> aFiles,
                                            const std::vector<std::string>& aOrder, std::string_view aSetup);

// The info file's text, UTF-8 with CR LF line ends. Keys with empty values
// are left out (a missing text key reads as empty). Throws when the
// description cannot be written so that the wizard reads it back unchanged or
// could act on it: a refused file name, two files arriving under one name, a
// setup program that is not among the files, a version that is not digits and
// dots, an address that is not http(s), a text holding a line break or longer
// than the wizard reads, a checksum that is not hexadecimal of its length.
// [Checksum256] is always written; a wizard without a built-in key ignores it.
// So is [Size] (FileN=bytes of each file, Downloader=bytes of the wizard when
// given): wizards stop a transfer that goes past it, older ones ignore it.
std::string BuildInfoFile(const TReleaseDescription& aRelease);
