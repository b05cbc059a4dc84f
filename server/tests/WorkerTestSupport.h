#pragma once

#include "quorvel_store/CMsgSendThread.h"
#include "ServiceTestSupport.h"
#include "quorvel_test_support/TempFolder.h"
#include "quorvel_test_support/WaitUntil.h"

#include "marlune/Marlune.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

using marlune::CMessageUserTalking;
using quorvel::service::CChatServer;
using quorvel::store::CMsgCache;
using quorvel::store::CMsgSendThread;
using quorvel::testsupport::TempFolder;
using quorvel::testsupport::WaitUntil;

// A delivery worker serving a fixture's service: its cache in a temporary
// folder, installed as the service's store, started on the service loop.
// Declare it after the fixture so it stops before the service goes.
class WorkerRun {
public:
    explicit WorkerRun(ServiceFixture& fixture, bool withService = true) : fixture_(fixture), worker_(fixture.Log())
    {
        started_ = fixture_.OnLoop([&](CChatServer& service) {
            service.SetMsgStore(worker_.Store());
            return worker_.InitThread(withService ? &service : nullptr, folder_.Path().string()) != 0 &&
                   worker_.StartService() == 1;
        });
    }
    ~WorkerRun() { Stop(); }
    WorkerRun(const WorkerRun&) = delete;
    WorkerRun& operator=(const WorkerRun&) = delete;

    // Stops the worker on the service loop, as the service stop does.
    void Stop()
    {
        if (!serviceGone_)
            fixture_.OnLoop([&](CChatServer&) { worker_.StopService(); });
    }
    // The test stopped the worker and destroyed the service itself.
    void MarkServiceGone() { serviceGone_ = true; }

    bool Started() const { return started_; }
    CMsgSendThread& Worker() { return worker_; }
    CMsgCache& Cache() { return worker_.Cache(); }

    // The delivery cycles the worker has run (with a service) so far.
    std::uint64_t Cycles()
    {
        return fixture_.OnLoop([](CChatServer& service) { return service.Counters().Read().workerCycles; });
    }
    // Waits (bounded) until the worker has run `count` more cycles.
    bool WaitForCycles(std::uint64_t count);

    // Whether a message for userId@serverName is pending.
    bool HasPendingFor(const std::string& userId, const std::string& serverName)
    {
        return Cache().HasPendingFor(userId, serverName);
    }
    // Whether a message for another server than localName is pending.
    bool HasPendingRoute(const std::string& localName)
    {
        return Cache().HasPendingRoute(localName);
    }

private:
    ServiceFixture& fixture_;
    TempFolder folder_;
    CMsgSendThread worker_;
    bool started_ = false;
    bool serviceGone_ = false;
};

// A chat message from source to target.
inline CMessageUserTalking MakeTalk(const std::string& source, const std::string& target, const std::string& text)
{
    CMessageUserTalking talk;
    talk.type = CMessageUserTalking::kType;
    talk.time = "2026-12-07 21:30:00";
    talk.source = source;
    talk.target = target;
    talk.text = text;
    return talk;
}

inline bool WorkerRun::WaitForCycles(std::uint64_t count)
{
    const std::uint64_t target = Cycles() + count;
    return WaitUntil([&] { return Cycles() >= target; });
}
