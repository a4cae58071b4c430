#pragma once
// Every fixed text of the window, word for word: the string table, then the
// layout's texts page by page. The folder-check warnings are shared with the
// silent mode and live in engine/destination_folder.h.

namespace strings {

// The string table.
inline constexpr const char* kCaptionPrefix = "Downloader - Version ";  // followed by the version
inline constexpr const char* kFolderHint = "<here indicate the destination path>";
inline constexpr const char* kDownloader = "Downloader";
inline constexpr const char* kCanceling = "Canceling...";
inline constexpr const char* kCancel = "Cancel";
inline constexpr const char* kDownloading = "Downloading";
inline constexpr const char* kTimeLeft = "Estimated time left: ";

// Message boxes, the folder dialog, the progress figures.
inline constexpr const char* kWarning = "Warning";
inline constexpr const char* kUnexpectedError = "unexpected error";
inline constexpr const char* kBrowseCaption = "Select destination path";
inline constexpr const char* kDownloadingCaptionEnd = "...";  // after kDownloading, before the share
inline constexpr const char* kNoShareYet = "0 %";
inline constexpr const char* kWidestShare = "100.00 %";  // measured for the layout, never shown

// Buttons.
inline constexpr const char* kCancelButton = "&Cancel";
inline constexpr const char* kRetryButton = "Retry";
inline constexpr const char* kStartButton = "Start";
inline constexpr const char* kBrowseButton = "...";
inline constexpr const char* kInstallButton = "&Install";
inline constexpr const char* kCloseButton = "&Close";

// Page 0, connecting.
inline constexpr const char* kConnectingHeading = "Connecting...";
inline constexpr const char* kConnectingWait = "Please wait while Downloader connects to download server";

// Page 1, not connected.
inline constexpr const char* kNotConnectedHeading = "Not Connected.";
inline constexpr const char* kNotConnectedCauses =
    "Connection to download server failed. Possible causes include:";
inline constexpr const char* kCauseNoInternet = "- Internet connection not available";
inline constexpr const char* kCauseServerProblems = "- Download Server problems";
inline constexpr const char* kCauseTransitory = "- Transitory internet conditions";

// Page 2, destination. Placeholders are replaced before the page shows.
inline constexpr const char* kReadyHeading = "Download ready to start.";
inline constexpr const char* kLineInfoPlaceholder = "Loomwright Ver 8.10";
inline constexpr const char* kInfoLinkPlaceholder = "Version Information";
inline constexpr const char* kInfoSizePlaceholder =
    "23 Files - 317 Mb total size - Estimated 1h 40' (ADSL - Cable)";
inline constexpr const char* kDestinationLabel = "Destination:";

// Page 3, download. The file name shows until the first progress update.
inline constexpr const char* kDownloadingHeading = "Downloading files...";
inline constexpr const char* kFilePlaceholder = "data1.cab";
inline constexpr const char* kCurrentFileLabel = "Current file";
inline constexpr const char* kTotalDownloadLabel = "Total download";
inline constexpr const char* kSharePlaceholder = "999.99 %";
inline constexpr const char* kTimeLeftPlaceholder = "Estimated Time Left 00:00:00";

// Page 4, interrupted.
inline constexpr const char* kInterruptedHeading = "Download interrupted.";
inline constexpr const char* kConnectionProblem = "Download process stopped due a connection problem.";
inline constexpr const char* kPressRetry = "Please press Retry to resume the process.";
inline constexpr const char* kFilesPreserved = "Files already downloaded will be preserved.";

// Page 5, install.
inline constexpr const char* kCompletedHeading = "Download Completed.";
inline constexpr const char* kEnd1Placeholder = "Please, click Install to start installation now.";
inline constexpr const char* kEnd2Placeholder =
    "You can run the installation later running Setup.exe in destination folder.";

// Names for assistive technology, where a control shows no text of its own.
inline constexpr const char* kBrowseForFolderName = "Browse for folder";
inline constexpr const char* kCurrentFileName = "Current file";
inline constexpr const char* kTotalDownloadName = "Total download";

}  // namespace strings
