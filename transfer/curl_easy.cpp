#include "transfer/curl_easy.h"

void SetCommonOptions(CURL* aEasy)
{
    curl_easy_setopt(aEasy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(aEasy, CURLOPT_USERAGENT, kUserAgent.c_str());
    // A proxy's CONNECT reply is not the server's reply.
    curl_easy_setopt(aEasy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // An abort during a slow name lookup would otherwise wait for curl's
    // resolver thread to finish (seconds with a DNS server that never
    // answers); this lets curl leave that thread behind.
    curl_easy_setopt(aEasy, CURLOPT_QUICK_EXIT, 1L);
}
