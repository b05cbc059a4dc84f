#include "CPacer.h"

namespace quorvel::load {

CPacer::CPacer(asio::io_context& io, double rate, Due due) : timer_(io), rate_(rate), due_(std::move(due)) {}

std::uint64_t CPacer::DueAt(double rate, std::chrono::steady_clock::duration elapsed)
{
    return static_cast<std::uint64_t>(rate * std::chrono::duration<double>(elapsed).count());
}

void CPacer::Start()
{
    running_ = true;
    start_ = std::chrono::steady_clock::now();
    done_ = 0;
    Arm();
}

void CPacer::Arm()
{
    timer_.expires_after(std::chrono::milliseconds(1));
    timer_.async_wait([this](const std::error_code& ec) {
        if (ec || !running_)
            return;
        const std::uint64_t due = DueAt(rate_, std::chrono::steady_clock::now() - start_);
        if (due > done_) {
            const std::uint64_t count = due - done_;
            done_ = due;
            due_(count);
        }
        Arm();
    });
}

} // namespace quorvel::load
