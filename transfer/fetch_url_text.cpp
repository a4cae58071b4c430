#include "transfer/fetch_url_text.h"
#include "transfer/curl_easy.h"
#include "transfer/url_text.h"

#include "platform/text.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string_view>
#include <thread>

#include <curl/curl.h>

namespace {

constexpr long kMaxRedirects = 5;
// Without a floor on speed a server that accepts and then says nothing
// would hold the worker, and the window waiting for it, for good.
constexpr long kTextFetchSilenceLimitSeconds = 60;

struct FetchState {
    CURL* easy = nullptr;
    std::string* text = nullptr;
    std::size_t limit = 0;
    int waitMs = 0;
    bool locationSeen = false;  // in the current header block
    std::string location;       // its value
    bool opened = false;        // the final reply's headers have arrived
    bool full = false;          // we stopped reading on purpose
    bool failed = false;
    bool redirectRefused = false;  // from https to http
};

bool HasValue(std::string_view aHeader)
{
    const auto colon = aHeader.find(':');
    return aHeader.find_first_not_of(" \t\r\n", colon + 1) != std::string_view::npos;
}

std::size_t OnHeader(char* aBuffer, std::size_t aSize, std::size_t aCount, void* aClient)
{
    auto& state = *static_cast<FetchState*>(aClient);
    const std::size_t size = aSize * aCount;
    const std::string_view line(aBuffer, size);
    if (state.opened)
        return size;  // trailers
    if (StartsWithNoCase(line, "http/")) {
        state.locationSeen = false;
        state.location.clear();
    } else if (StartsWithNoCase(line, "location:")) {
        state.locationSeen = HasValue(line);
        try {
            state.location = TrimControl(line.substr(9));
        } catch (...) {
            return 0;
        }
    } else if (line == "\r\n" || line == "\n") {
        long status = 0;
        curl_easy_getinfo(state.easy, CURLINFO_RESPONSE_CODE, &status);
        // Interim replies and redirects that curl follows are not the reply.
        const bool followed = status >= 300 && status < 400 && state.locationSeen;
        if (followed) {
            char* from = nullptr;
            curl_easy_getinfo(state.easy, CURLINFO_EFFECTIVE_URL, &from);
            // From https, a target that cannot be read is refused too.
            std::string to;
            try {
                to = from ? ResolveReference(from, state.location) : "";
            } catch (...) {
                return 0;
            }
            if (from && LosesTls(from, to)) {
                state.redirectRefused = true;
                return 0;  // curl ends the transfer before it follows
            }
        }
        if (status >= 200 && !followed) {
            state.opened = true;
            if (state.waitMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(state.waitMs));
        }
    }
    return size;
}

std::size_t OnWrite(char* aData, std::size_t aSize, std::size_t aCount, void* aClient)
{
    auto& state = *static_cast<FetchState*>(aClient);
    const std::size_t size = aSize * aCount;
    try {
        const std::size_t take = std::min(size, state.limit - state.text->size());
        state.text->append(aData, take);
    } catch (...) {
        state.failed = true;
        return 0;
    }
    if (state.text->size() >= state.limit) {
        state.full = true;
        return 0;  // the rest is not wanted: curl ends the transfer here
    }
    return size;
}

int OnProgress(void* aAbort, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const std::atomic<bool>*>(aAbort)->load() ? 1 : 0;
}

}  // namespace

TFetchResult FetchURLText(const std::string& aURL, std::string& aText, std::size_t aBufferSize,
                          int aConnectTimeoutMs, int aWaitMs, const std::atomic<bool>* aAbort)
{
    aText.clear();
    const CurlEasy easy{curl_easy_init()};
    if (!easy)
        return TFetchResult::NoHandle;

    FetchState state;
    state.easy = easy.get();
    state.text = &aText;
    state.limit = aBufferSize;
    state.waitMs = aWaitMs;

    CURL* handle = easy.get();
    const std::string address = NormalizeAddress(aURL);
    curl_easy_setopt(handle, CURLOPT_URL, address.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    // The header callback refuses each step from https to http; from an
    // https start curl itself then follows nothing but https.
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR,
                     StartsWithNoCase(address, "https://") ? "https" : "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    SetCommonOptions(handle);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, kTextFetchSilenceLimitSeconds);
    if (aConnectTimeoutMs > 0)
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(aConnectTimeoutMs));
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &state);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &OnWrite);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &state);
    if (aAbort != nullptr) {
        // curl asks at least once a second, also while the line is silent.
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &OnProgress);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, aAbort);
    }

    const CURLcode result = curl_easy_perform(handle);
    if (state.full || (result == CURLE_OK && !state.failed))
        return TFetchResult::Ok;
    aText.clear();
    if (state.redirectRefused)
        return TFetchResult::RedirectRefused;
    return state.opened || state.failed ? TFetchResult::ReadFailed : TFetchResult::OpenFailed;
}
