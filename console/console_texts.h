#pragma once
// Every line the silent mode prints, word for word. Texts that came from a
// server or a file are passed in as they are; the printer makes them safe.

#include <cstdint>
#include <string>

namespace console_texts {

inline constexpr const char* kConnecting = "connecting";
inline constexpr const char* kCancelled = "cancelled";
inline constexpr const char* kNoInfoAddress =
    "not connected: no info file address (set INIConfig, or give a release number)";
inline constexpr const char* kServiceGaveNoAddress =
    "not connected: the info service gave no info file address";
inline constexpr const char* kNoSetupListed = "no setup program listed";

inline std::string ServiceGaveNoAddressFor(const std::string& aRelease)
{
    return std::string(kServiceGaveNoAddress) + " for release " + aRelease;
}
inline std::string CannotFetchInfoFile(const std::string& aAddress)
{
    return "not connected: cannot fetch the info file " + aAddress;
}
inline std::string PrivateFolderRefused(const std::string& aWhy)
{
    return "not connected: refusing the private temporary folder: " + aWhy;
}
inline std::string VersionUnreadable(const std::string& aVersion)
{
    return "the info file's Version \"" + aVersion + "\" could not be read: no newer wizard is looked for";
}
// A build with a vendor key refused the info file; aWhy says how.
inline std::string InfoSignatureRefused(const std::string& aWhy)
{
    return "the info file's signature is missing or invalid (" + aWhy + ")";
}
// A build with a vendor key refused a genuine info file that does not belong
// where it was found or is older than one accepted there; aWhy says how.
inline std::string SignedInfoRefused(const std::string& aWhy)
{
    return "refusing the signed info file: " + aWhy;
}
inline std::string StartingNewerWizard(const std::string& aNotice)
{
    return aNotice + ": starting the newer wizard";
}
// aWhy: why it was refused before its start; "" when the start itself failed.
inline std::string CannotStartNewerWizard(const std::string& aPath, const std::string& aWhy = "")
{
    return "cannot start the newer wizard " + aPath + (aWhy.empty() ? "" : ": " + aWhy);
}
inline std::string Destination(const std::string& aFolder)
{
    return "destination " + aFolder;
}
inline std::string FolderProblem(const std::string& aProblem, const std::string& aFolder)
{
    return aProblem + " (" + aFolder + ")";
}
inline std::string Downloading(const std::string& aName, std::int32_t aNumber, std::int32_t aTotal)
{
    return "downloading " + aName + " (" + std::to_string(aNumber) + " of " + std::to_string(aTotal) + ")";
}
inline std::string AttemptFailed(const std::string& aName, int aAttempt, const std::string& aReason)
{
    return "attempt " + std::to_string(aAttempt) + " of " + aName + " failed: " + aReason;
}
inline std::string Verified(const std::string& aName)
{
    return "verified " + aName;
}
inline std::string DownloadFailedAt(const std::string& aName)
{
    return "download failed at " + aName;
}
inline std::string AllVerifiedIn(const std::string& aFolder)
{
    return "all files verified in " + aFolder;
}
// aWhy as for CannotStartNewerWizard.
inline std::string CannotStartSetup(const std::string& aPath, const std::string& aWhy = "")
{
    return "cannot start the setup program " + aPath + (aWhy.empty() ? "" : ": " + aWhy);
}
inline std::string StartedSetup(const std::string& aPath)
{
    return "started " + aPath;
}

}  // namespace console_texts
