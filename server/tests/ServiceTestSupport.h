#pragma once

#include "quorvel_service/CChatServer.h"

#include "corvane/CEventLoopThread.h"
#include "marlune/CMessageBase.h"
#include "marlune/CTalker.h"
#include "quorvel_test_support/RawConnection.h"
#include "scrivlet/CLog4c.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

using corvane::CEventLoopThread;
using marlune::CMessageBase;
using marlune::CTalker;
using quorvel::service::CChatServer;
using quorvel::testsupport::RawConnection;
using scrivlet::CLog4c;

// Log lines of the service and of its transport. The log callbacks take no
// context, so the lines go to one process-wide list.
class ServiceLogLines {
public:
    static void Add(const char* line);
    static void Clear();
    static std::vector<std::string> All();
    // Lines that contain text.
    static std::vector<std::string> With(const std::string& text);
    static int Count(const std::string& text) { return static_cast<int>(With(text).size()); }
    // Waits (bounded) until a line contains text.
    static bool WaitFor(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(5));
};

// A message the fixture's store received.
struct StoredMessage {
    std::string type;
    std::string source;
    std::string target;
    std::string bytes;
};

// A CChatServer named "hub" on a loop thread of its own, listening on a free
// 127.0.0.1 port above 2000, with a counting config hook, a recording store
// and a SendAllFriend flag the test sets. The service is created and
// destroyed on its loop; reach it with OnLoop.
class ServiceFixture {
public:
    // port 0: a free port chosen at random.
    explicit ServiceFixture(const std::string& localName = "hub", unsigned port = 0);
    ~ServiceFixture();
    ServiceFixture(const ServiceFixture&) = delete;
    ServiceFixture& operator=(const ServiceFixture&) = delete;

    // Runs fn(service) on the service loop and returns its result.
    template <class F>
    auto OnLoop(F fn)
    {
        auto result = thread_.Loop().Call([this, fn = std::move(fn)]() mutable { return fn(*service_); });
        if constexpr (!std::is_same_v<decltype(result), bool>)
            return *result;
    }

    unsigned Port() const { return port_; }
    CLog4c& Log() { return log_; }

    // Adds a user of this server (home server "hub").
    void AddUser(const std::string& userId, const std::string& password, const std::string& name = {},
                 const std::string& friends = {});
    // Adds a neighbour server with users (their home server is the neighbour).
    void AddNeighbor(const std::string& name, const std::vector<CTalker>& users);
    // A copy of a user record, found with FindTalker; nullopt when missing.
    std::optional<CTalker> Find(const std::string& address);
    // Removes the store, so unhandled messages have nowhere to go.
    void RemoveStore();
    // Runs fn(service) and then destroys the service, in one job on the
    // loop (as a service stop does). OnLoop must not be used afterwards.
    template <class F>
    void DestroyAfter(F fn)
    {
        thread_.Loop().Call([this, fn = std::move(fn)]() mutable {
            fn(*service_);
            service_.reset();
        });
    }

    // How often the bound named `key` refused, cut or held back so far
    // (the service's counters).
    std::uint64_t Refused(const std::string& key);

    std::atomic<bool> sendAllFriend{false};
    std::atomic<int> configSaves{0};
    std::vector<StoredMessage> Stored();

private:
    // Creates the service on its loop and opens a free port; returns it.
    unsigned OnLoopCreate(const std::string& localName, unsigned port);

    CLog4c log_;
    CEventLoopThread thread_;
    std::unique_ptr<CChatServer> service_;
    unsigned port_ = 0;
    std::mutex storedLock_;
    std::vector<StoredMessage> stored_;
};

// A synchronous client for the service: a raw connection that also sends
// and receives messages, logs in and waits for the server to catch up.
class TestClient : public RawConnection {
public:
    // receiveBuffer > 0 shrinks the socket's receive buffer first (a slow
    // reader).
    explicit TestClient(unsigned port, int receiveBuffer = 0) : RawConnection(port, {.receiveBuffer = receiveBuffer})
    {
    }

    using RawConnection::Send;
    // Builds message (with the library) and sends it in one frame.
    bool Send(CMessageBase& message);
    // The next payload parsed, or null (nothing came, or it did not parse).
    std::unique_ptr<CMessageBase> ReceiveMessage(std::chrono::milliseconds limit = std::chrono::seconds(5));
    template <class T>
    std::unique_ptr<T> ReceiveAs(std::chrono::milliseconds limit = std::chrono::seconds(5))
    {
        auto message = ReceiveMessage(limit);
        if (auto* typed = dynamic_cast<T*>(message.get())) {
            message.release();
            return std::unique_ptr<T>(typed);
        }
        return nullptr;
    }

    // Asks the server a question answered on this connection and returns the
    // payloads that arrived before the answer: everything the server sent
    // here before it handled the question. Nullopt when no answer came.
    std::optional<std::vector<std::string>> Sync();

    // Logs in (forced when force) and returns the reply's result text.
    std::string Login(const std::string& userId, const std::string& password, bool force = false,
                      const std::string& statu = "online");
};

// Type name of a payload ("" when it does not parse).
std::string TypeOf(const std::string& payload);
// Parses a payload.
std::unique_ptr<CMessageBase> Parse(const std::string& payload);
// A user record.
CTalker MakeTalker(const std::string& userId, const std::string& serverName, const std::string& name = {},
                   const std::string& password = {}, const std::string& friends = {});
