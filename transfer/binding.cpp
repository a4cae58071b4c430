#include <curl/curl.h>

#include "transfer/download_url.h"

void TBinding::Abort()
{
    mAborted.store(true);
    std::lock_guard lock(mMutex);
    if (mMulti)
        curl_multi_wakeup(static_cast<CURLM*>(mMulti));  // documented as callable from any thread
}

void TBinding::Attach(void* aMulti)
{
    std::lock_guard lock(mMutex);
    mMulti = aMulti;
}

void TBinding::Detach()
{
    std::lock_guard lock(mMutex);
    mMulti = nullptr;
}
