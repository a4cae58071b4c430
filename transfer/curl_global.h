#pragma once
// libcurl's process-wide set-up. Create one in main() before any thread
// starts and keep it until every thread that uses curl has ended.

class CurlGlobal {
public:
    CurlGlobal();  // throws std::runtime_error when curl cannot start
    ~CurlGlobal();
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
};
