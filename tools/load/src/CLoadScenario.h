#pragma once

#include "CLoadFleet.h"
#include "CLoadOptions.h"
#include "CLoadPayload.h"
#include "CLoadResult.h"
#include "COrderChecker.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::load {

// What a scenario runs against.
struct CLoadContext {
    asio::io_context& io;
    asio::ip::tcp::endpoint server;
    const CLoadOptions& options;
    int serverPid = 0;       // 0 when unknown
    std::string runTag;      // makes forced user ids unique per run
};

// One load scenario: sets up its users, runs for a bounded time on the
// context's io_context (the caller's thread) and returns what it measured.
// The base keeps what every scenario with numbered messages shares: the
// clock, the order checker, latency and throughput.
class CLoadScenario {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~CLoadScenario() = default;
    virtual CLoadResult Run(CLoadContext& context) = 0;

    // The scenario called `name`; null for an unknown name.
    static std::unique_ptr<CLoadScenario> Make(const std::string& name);

protected:
    // Microseconds since the scenario began.
    std::uint64_t NowMicros() const;
    void BeginClock();
    Clock::time_point Epoch() const { return epoch_; }

    // Ids of `count` users: l0, l1 ... of the generated directory for
    // password logins, else `letter`, the run tag and a number.
    static std::string UserPrefix(const CLoadContext& context, char letter);
    // Makes the fleet, adds `count` users, connects and logs them in; false
    // (with a note in the result) when that fails.
    bool StartFleet(CLoadContext& context, std::uint32_t count, char letter, std::chrono::seconds limit);
    // One template per user, sending `type` ("trans-file" or "user-talking").
    void MakeTemplates(const std::string& type);
    // Takes a received message: when it is of `type` and carries a mark,
    // checks its order, records its latency and arrival; returns the
    // sender's number, or -1.
    long Arrival(std::uint32_t receiver, std::string_view payload, std::string_view type);
    // Sends `count` numbered messages from `sender` to `receiver` in one write.
    void SendNumbered(std::uint32_t sender, std::uint32_t receiver, std::uint32_t count, std::uint64_t micros);
    // Tells the checker what was sent and fills the check lines of the result.
    void FinishChecks();
    void AddLatencyMetrics(const std::string& what);

    std::unique_ptr<CLoadFleet> fleet_;
    std::vector<CLoadPayload::Template> templates_;
    std::vector<std::string> addresses_;
    // Messages sent per stream (sender, receiver).
    std::unordered_map<std::uint64_t, std::uint64_t> streamSent_;
    std::uint64_t totalSent_ = 0;
    std::uint64_t totalArrived_ = 0;
    COrderChecker checker_;
    CLoadResult result_;
    Clock::time_point firstArrival_{};
    Clock::time_point lastArrival_{};

private:
    Clock::time_point epoch_{};
    std::string batch_;
    std::string scratch_;
};

} // namespace quorvel::load
