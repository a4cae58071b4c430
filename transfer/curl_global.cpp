#include "transfer/curl_global.h"

#include <stdexcept>
#include <string>

#include <curl/curl.h>

CurlGlobal::CurlGlobal()
{
    const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK)
        throw std::runtime_error(std::string("cannot start libcurl: ") + curl_easy_strerror(result));
}

CurlGlobal::~CurlGlobal()
{
    curl_global_cleanup();
}
