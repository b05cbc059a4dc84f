#pragma once

#include <corvane/CEventLoopThread.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace marlune {
class CMessageBase;
}

namespace quorvel::client {

class CClientEndpoint;

// One client connection to a server on the project's transport, with a
// thread of its own: the connection lives on an event loop thread that
// receives frames while the owner does other things (reads input, waits).
//
// Threads: the constructor, Connect, Close and the destructor on the
// owner's thread (never on the loop thread); Send and SendPayload on any
// thread (they run on the loop thread, waiting for the result); both
// handlers run on the loop thread, which therefore owns whatever they touch.
// Work for that state is posted with Loop().Post or Loop().Call.
class CClientConnection {
public:
    using PayloadHandler = std::function<void(const std::uint8_t* data, std::size_t length)>;
    using CloseHandler = std::function<void()>;

    // onPayload gets every received frame payload, onClosed the peer's close
    // (not a Close of our own). Either may be empty.
    CClientConnection(PayloadHandler onPayload, CloseHandler onClosed);
    // Closes the connection and stops the loop thread.
    ~CClientConnection();
    CClientConnection(const CClientConnection&) = delete;
    CClientConnection& operator=(const CClientConnection&) = delete;

    // Connects to host (name or dotted address) and port; true on success.
    // Gives up after the transport's connect limit (3 s).
    bool Connect(const std::string& host, int port);
    // Builds the XML of `msg` and sends it as one frame; true when the whole
    // frame was written. False when not connected or nothing was built.
    bool Send(marlune::CMessageBase& msg);
    // Sends `payload` unchanged as one frame.
    bool SendPayload(std::string_view payload);
    // Closes the connection (no close handler call).
    void Close();
    // True while connected.
    bool Connected();

    corvane::CEventLoop& Loop() { return thread_.Loop(); }

private:
    PayloadHandler onPayload_;
    CloseHandler onClosed_;
    corvane::CEventLoopThread thread_;
    std::unique_ptr<CClientEndpoint> endpoint_;  // created and destroyed on the loop thread
};

} // namespace quorvel::client
