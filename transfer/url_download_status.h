#pragma once
// Status values of a transfer, as its progress event reports them. The
// ordinal of each value is its bind-status code minus 1.

#include <array>
#include <cstdint>

enum class TURLDownloadStatus : std::uint8_t {
    dsFindingResource,
    dsConnecting,
    dsRedirecting,
    dsBeginDownloadData,
    dsDownloadingData,
    dsEndDownloadData,
    dsBeginDownloadComponents,
    dsInstallingComponents,
    dsEndDownloadComponents,
    dsUsingCachedCopy,
    dsSendingRequest,
    dsClassIDAvailable,
    dsMIMETypeAvailable,
    dsCacheFileNameAvailable,
    dsBeginSyncOperation,
    dsEndSyncOperation,
    dsBeginUploadData,
    dsUploadingData,
    dsEndUploadData,
    dsProtocolClassID,
    dsEncoding,
    dsVerifiedMIMETypeAvailable,
    dsClassInstallLocation,
    dsDecoding,
    dsLoadingMIMEHandler,
    dsContentDispositionAttach,
    dsFilterReportMIMEType,
    dsCLSIDCanInstantiate,
    dsIUnKnownAvailable,
    dsDirectBind,
    dsRawMIMEType,
    dsProxyDetecting,
    dsAcceptRanges,
    dsCookieSent,
    dsCompactPolicyReceived,
    dsCookieSuppressed,
    dsCookieStateUnknown,
    dsCookieStateAccept,
    dsCookeStateReject,
    dsCookieStatePrompt,
    dsCookieStateLeash,
    dsCookieStateDowngrade,
    dsPolicyHREF,
    dsP3PHeader,
    dsSessionCookieReceived,
    dsPersistentCookieReceived,
    dsSessionCookiesAllowed,
};

inline constexpr std::size_t kURLDownloadStatusCount = 47;

// Bind-status codes 1 to 47, in the order of the enumeration.
inline constexpr std::array<std::uint32_t, kURLDownloadStatusCount> BindStatusCodes = [] {
    std::array<std::uint32_t, kURLDownloadStatusCount> codes{};
    for (std::size_t i = 0; i < codes.size(); ++i)
        codes[i] = static_cast<std::uint32_t>(i + 1);
    return codes;
}();
