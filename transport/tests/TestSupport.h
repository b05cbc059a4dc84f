#pragma once

#include "corvane/CEventLoopThread.h"
#include "corvane/CFrame.h"
#include "corvane/CMyRASServer_Srv.h"
#include "corvane/CMyRASSocket.h"
#include "quorvel_test_support/FreePort.h"
#include "quorvel_test_support/RawConnection.h"
#include "quorvel_test_support/WaitUntil.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

using corvane::CEventLoop;
using corvane::CEventLoopThread;
using corvane::CMyRASServer_Srv;
using corvane::CMyRASSocket;
using corvane::ON_WS_DISCONNECTED;
using corvane::RAS_CALLBACK_PARA;
using quorvel::testsupport::RawConnection;

// Callbacks are plain function pointers, so what they see is kept in
// process-wide collectors (each test runs in its own process).
class Recorder {
public:
    static void Log(const char* text);
    static void Receive(RAS_CALLBACK_PARA* para);

    static std::vector<std::string> Lines();
    static std::vector<std::string> Payloads();
    static bool HasLine(const std::string& text);
    static int CountLines(const std::string& text);
    static void Clear();
};

// A well-formed frame around payload, with `version` in the header.
std::string Frame(const std::string& payload, std::uint8_t version = 0);

// Runs fn on the loop's thread and returns its result (nothing for void).
template <class F>
auto RunOn(CEventLoop& loop, F fn)
{
    auto result = loop.Call(std::move(fn));
    if constexpr (!std::is_same_v<decltype(result), bool>)
        return *result;
}

// A listening server for tests: records OnWsDisconnected calls.
class TestServer : public CMyRASServer_Srv {
public:
    void OnWsDisconnected(ON_WS_DISCONNECTED* para) override;
    std::size_t Count() const { return connections.size(); }
    CMyRASSocket* At(std::size_t i) const { return connections.at(i).get(); }
    // The list itself, as a program's class reads it from other threads.
    const std::vector<std::unique_ptr<CMyRASSocket>>& List() const { return connections; }
    std::vector<std::string> disconnectedIds;
    std::vector<std::string> order;
};

// A TestServer listening on a free port of a loop thread of its own.
class ServerFixture {
public:
    explicit ServerFixture(bool withCallbacks = true);
    ~ServerFixture();
    // Runs fn on the server's loop thread and returns its result.
    template <class F>
    auto OnLoop(F fn)
    {
        return RunOn(thread.Loop(), std::move(fn));
    }
    CEventLoopThread thread;
    std::unique_ptr<TestServer> server;
    unsigned port = 0;
};
