#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <functional>

namespace quorvel::load {

// Calls a function every millisecond with how many events are due by now at
// `rate` per second since Start, so a sender keeps a set rate however late a
// tick comes. On the io_context's thread.
class CPacer {
public:
    using Due = std::function<void(std::uint64_t count)>;

    CPacer(asio::io_context& io, double rate, Due due);
    void Start();
    void Stop() { running_ = false; timer_.cancel(); }
    // Events due `elapsed` after the start at `rate` per second.
    static std::uint64_t DueAt(double rate, std::chrono::steady_clock::duration elapsed);

private:
    void Arm();

    asio::steady_timer timer_;
    double rate_;
    Due due_;
    bool running_ = false;
    std::chrono::steady_clock::time_point start_{};
    std::uint64_t done_ = 0;
};

} // namespace quorvel::load
