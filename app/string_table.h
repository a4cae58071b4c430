#pragma once
// The window's own texts, word for word.

namespace strings {
inline constexpr const char* kCaptionPrefix = "Downloader - Version ";
inline constexpr const char* kFolderHint = "<here indicate the destination path>";
inline constexpr const char* kDownloader = "Downloader";
inline constexpr const char* kCanceling = "Canceling...";
inline constexpr const char* kCancel = "Cancel";
inline constexpr const char* kDownloading = "Downloading";
inline constexpr const char* kTimeLeft = "Estimated time left: ";
inline constexpr const char* kWarning = "Warning";
inline constexpr const char* kBrowseCaption = "Select destination path";
}  // namespace strings
