#pragma once
// The one bounded wait of the tests: for an event that another thread or
// process brings about, never for a fixed time.

#include <chrono>
#include <functional>
#include <thread>

// Long enough for a loaded sanitizer run; a passing test never waits it out.
inline constexpr std::chrono::seconds kEventuallyLimit{30};

// Looks at aCondition until it holds, for at most aLimit; false when it never
// did. aPause runs between looks (the window tests process events there); by
// default the thread sleeps 5 ms.
template <typename TCondition>
bool Eventually(TCondition&& aCondition, std::chrono::milliseconds aLimit = kEventuallyLimit,
                const std::function<void()>& aPause = {})
{
    const auto end = std::chrono::steady_clock::now() + aLimit;
    // The count bounds the loop too, should a pause return at once.
    for (auto turns = aLimit.count() + 1; turns > 0; --turns) {
        if (aCondition())
            return true;
        if (std::chrono::steady_clock::now() > end)
            break;
        if (aPause)
            aPause();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return aCondition();
}
