#pragma once
// What every curl transfer of this program shares: the handle's owner and the
// settings that do not depend on what is fetched.

#include <memory>
#include <string>

#include <curl/curl.h>

#include "downloader_version.h"

struct CurlEasyDeleter {
    void operator()(CURL* aHandle) const noexcept { curl_easy_cleanup(aHandle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlMultiDeleter {
    void operator()(CURLM* aHandle) const noexcept { curl_multi_cleanup(aHandle); }
};
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;

inline const std::string kUserAgent = std::string("Downloader/") + kDownloaderVersion;

// No signals (transfers run on worker threads), our user agent, no proxy
// CONNECT reply taken for the server's, and no wait for a slow name lookup
// when the transfer is ended.
void SetCommonOptions(CURL* aEasy);
