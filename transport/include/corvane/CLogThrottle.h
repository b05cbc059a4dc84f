#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace corvane {

// Keeps a bound that bites under hostile load from flooding the log: a line
// for one cause and one remote address is let through at most once per
// pause (a minute by default). The memory of recent lines is bounded, so a
// flood from many addresses cannot grow it without end; when it is full of
// lines younger than the pause, further lines are held back.
//
// Threads: any; each call takes the throttle's own lock.
class CLogThrottle {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kDefaultPause{60};
    static constexpr std::size_t kRemembered = 4096;

    explicit CLogThrottle(Clock::duration pause = kDefaultPause) : pause_(pause) {}

    // True when a line for (cause, address) may be written now; it is then
    // remembered as written.
    bool Allow(std::string_view cause, std::string_view address, Clock::time_point now = Clock::now());

private:
    const Clock::duration pause_;
    std::mutex mutex_;
    std::unordered_map<std::string, Clock::time_point> last_;
};

} // namespace corvane
