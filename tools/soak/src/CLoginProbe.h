#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::soak {

// A well-behaved user who, until the deadline, connects, logs in and
// leaves again every `period`, timing each login from the connect to the
// answer: how long a person waits for a login while the server is under
// attack. A login that fails or takes longer than 10 s counts as failed.
//
// Thread: the owner calls Start, Join and, after Join, the figures.
class CLoginProbe {
public:
    CLoginProbe(int port, std::string user, std::chrono::milliseconds period);
    ~CLoginProbe();
    CLoginProbe(const CLoginProbe&) = delete;
    CLoginProbe& operator=(const CLoginProbe&) = delete;

    void Start(std::chrono::steady_clock::time_point deadline);
    void Join();

    std::size_t Logins() const { return millis_.size(); }
    std::uint64_t Failures() const { return failures_; }
    // The login time that `share` (0..1) of the logins stayed within, in
    // ms; 0 without logins.
    double Percentile(double share) const { return Percentile(millis_, share); }
    // The same for the connect alone, the part the kernel's accept queue
    // decides.
    double ConnectPercentile(double share) const { return Percentile(connectMillis_, share); }

private:
    void Run();
    static double Percentile(const std::vector<double>& values, double share);

    int port_;
    std::string user_;
    std::chrono::milliseconds period_;
    std::chrono::steady_clock::time_point deadline_;
    std::vector<double> millis_;
    std::vector<double> connectMillis_;
    std::uint64_t failures_ = 0;
    std::thread thread_;
};

} // namespace quorvel::soak
