#pragma once

#include <corvane/CEventLoopThread.h>
#include <corvane/CMyRASServer_Srv.h>
#include <quorvel_test_support/WaitUntil.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace marlune {
class CMessageBase;
}
using corvane::CEventLoopThread;
using corvane::CMyRASServer_Srv;
using corvane::ON_WS_DISCONNECTED;
using corvane::RAS_CALLBACK_PARA;
using marlune::CMessageBase;
using quorvel::testsupport::WaitUntil;

// A stand-in server for client tests: listens on 127.0.0.1 at a free port
// above 2000 on a loop thread of its own, records every payload it receives
// and answers through a reply function run on its loop thread.
class TestListener : public CMyRASServer_Srv {
public:
    // Given each received message (parsed), returns the messages to send
    // back on the same connection.
    using Responder = std::function<std::vector<std::unique_ptr<CMessageBase>>(CMessageBase& received)>;

    void OnWsDisconnected(ON_WS_DISCONNECTED*) override {}

    // Payloads received so far, in order. Any thread.
    std::vector<std::string> Payloads() const;
    // Closes every accepted connection. Loop thread.
    void CloseAll();

    Responder responder;

private:
    static void OnString(RAS_CALLBACK_PARA* para);

    mutable std::mutex mutex_;
    std::vector<std::string> payloads_;

    friend class ListenerFixture;
};

// Owns the loop thread and the listener on it.
class ListenerFixture {
public:
    explicit ListenerFixture(TestListener::Responder responder);
    ~ListenerFixture();

    TestListener& Listener() { return *listener_; }
    unsigned Port() const { return port_; }
    // Closes every accepted connection on the listener's loop.
    void CloseClients();

private:
    CEventLoopThread thread_;
    std::unique_ptr<TestListener> listener_;
    unsigned port_ = 0;
};
