#pragma once

#include <cstdint>

namespace corvane {

class CMyRASServer;
class CMyRASSocket;

// One received payload handed to the string callback. Valid only during the
// callback: the library frees `data` when it returns. Exactly `length` bytes
// are meaningful; no terminating zero is added.
struct RAS_CALLBACK_PARA {
    const std::uint8_t* data;
    std::uint32_t length;
    CMyRASServer* server;  // the endpoint that received the frame
    CMyRASSocket* socket;  // the connection it arrived on (answer with SendBuff)
};

// Passed to the listening server's OnWsDisconnected and disconnect callback.
struct ON_WS_DISCONNECTED {
    CMyRASSocket* socket;  // the connection whose peer closed
};

// Passed to the client's disconnect callback; the client always sets 0.
struct ON_SCK_DISCONNECTED {
    std::int32_t reserved;
};

// A bound of a listening server against hostile load (CConnectionLimits),
// and the spare descriptor that sheds connections when descriptors run out.
enum class RAS_LIMIT : std::uint8_t {
    kBufferBudget,           // the connections holding the most were closed
    kConnectionsPerAddress,  // a connection was closed at accept
    kLoginTimeout,           // a connection without a login was closed
    kFramesPerTurn,          // a connection's further frames wait a turn
    kDescriptors,            // a pending connection was closed at accept
};

// The server.ini [LIMITS] key of a bound, the one name its refusals are
// throttled and counted under ("Descriptors" for the spare descriptor, which
// has no setting). Any thread.
const char* LimitKey(RAS_LIMIT limit);

// Passed to the limit callback each time a bound bites.
struct RAS_LIMIT_PARA {
    CMyRASServer* server;  // the endpoint whose bound bit
    RAS_LIMIT limit;
};

// Receives every log line of an endpoint and its connections, a
// zero-terminated GBK text valid during the call. Called from any thread
// that produces a line (loop thread, sending threads, the send thread).
using RAS_LOG_CALLBACK = void (*)(const char* text);
// Receives every complete payload, on the endpoint's loop thread.
using RAS_STRING_CALLBACK = void (*)(RAS_CALLBACK_PARA* para);
// Listening server: a connection was accepted (result ignored). Loop thread.
using RAS_ACCEPT_CALLBACK = int (*)(CMyRASSocket* socket);
// Listening server: a connection's peer closed (result ignored). Loop thread.
using RAS_WS_DISCONNECT_CALLBACK = int (*)(ON_WS_DISCONNECTED* para);
// Client: its connection's peer closed (result ignored). Client's thread.
using RAS_SCK_DISCONNECT_CALLBACK = int (*)(ON_SCK_DISCONNECTED* para);
// A bound bit: called every time, unlike its log line, which is throttled.
// Loop thread.
using RAS_LIMIT_CALLBACK = void (*)(RAS_LIMIT_PARA* para);

} // namespace corvane
