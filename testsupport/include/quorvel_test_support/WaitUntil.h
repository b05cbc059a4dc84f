#pragma once

#include <chrono>
#include <thread>

namespace quorvel::testsupport {

// Asks `condition` every few milliseconds until it holds or `limit` passes;
// true when it held. How a test waits for something another thread or
// process does: never a pause of a guessed length.
template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace quorvel::testsupport
