#pragma once
// Fetches a short reply body into memory in one blocking call (the info
// service's answer). Any thread; keeps no state between calls.

#include <atomic>
#include <cstddef>
#include <string>

enum class TFetchResult : int {
    Ok = 0,               // aText holds the bytes read (possibly none)
    NoHandle = 1,         // no transfer handle could be made
    OpenFailed = 2,       // no reply: bad address, name not resolved, no connection
    ReadFailed = 3,       // the reply broke off while its body was read
    RedirectRefused = 4,  // a redirect from https to http (RefusedRedirectText)
};

// aText is emptied, then receives at most aBufferSize bytes of the body,
// unchanged; the rest of the body is not read. The HTTP status is not looked
// at: an error page's body comes back with Ok. Redirects are followed (up to
// 5, http and https only, never from https to http). aConnectTimeoutMs > 0
// limits the connect; aWaitMs > 0 pauses once the reply's headers have
// arrived, before the body is read.
// A reply that sends nothing for 60 s fails, so a hung server cannot block
// the caller for good.
// aAbort, when given, is polled about once a second: true ends the fetch as
// a failure (another thread cancelled).
TFetchResult FetchURLText(const std::string& aURL, std::string& aText, std::size_t aBufferSize,
                          int aConnectTimeoutMs, int aWaitMs, const std::atomic<bool>* aAbort = nullptr);
