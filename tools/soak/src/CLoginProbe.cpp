#include "CLoginProbe.h"

#include "quorvel_client/CSyncClient.h"

#include <algorithm>
#include <cmath>

namespace quorvel::soak {

using client::CSyncClient;

CLoginProbe::CLoginProbe(int port, std::string user, std::chrono::milliseconds period)
    : port_(port), user_(std::move(user)), period_(period)
{
}

CLoginProbe::~CLoginProbe()
{
    deadline_ = {};
    Join();
}

void CLoginProbe::Start(std::chrono::steady_clock::time_point deadline)
{
    deadline_ = deadline;
    thread_ = std::thread([this] { Run(); });
}

void CLoginProbe::Join()
{
    if (thread_.joinable())
        thread_.join();
}

void CLoginProbe::Run()
{
    while (std::chrono::steady_clock::now() < deadline_) {
        const auto started = std::chrono::steady_clock::now();
        CSyncClient client;
        const bool connected = client.Connect("127.0.0.1", port_);
        const auto connectedAt = std::chrono::steady_clock::now();
        const bool ok = connected && client.Login(user_, "pw-" + user_);
        const auto now = std::chrono::steady_clock::now();
        client.Close();
        if (ok) {
            millis_.push_back(std::chrono::duration<double, std::milli>(now - started).count());
            connectMillis_.push_back(std::chrono::duration<double, std::milli>(connectedAt - started).count());
        }
        if (!ok)
            ++failures_;
        std::this_thread::sleep_until(started + period_);
    }
}

double CLoginProbe::Percentile(const std::vector<double>& values, double share)
{
    if (values.empty())
        return 0;
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const auto rank = static_cast<std::size_t>(std::ceil(share * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<std::size_t>(rank, 1)) - 1];
}

} // namespace quorvel::soak
