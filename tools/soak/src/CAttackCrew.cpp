#include "CAttackCrew.h"

namespace quorvel::soak {

CAttackCrew::~CAttackCrew()
{
    Stop();
}

void CAttackCrew::Join()
{
    for (auto& thread : threads_) {
        if (thread.joinable())
            thread.join();
    }
    threads_.clear();
}

void CAttackCrew::Stop()
{
    deadline_ = std::chrono::steady_clock::time_point{};
    Join();
}

void CAttackCrew::Pause(std::chrono::milliseconds length) const
{
    std::this_thread::sleep_for(length * pace_);
}

} // namespace quorvel::soak
