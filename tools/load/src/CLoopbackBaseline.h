#pragma once

namespace quorvel::load {

// The loopback limit the relay is compared with: a plain TCP socket pair on
// 127.0.0.1, Nagle off, one thread sending 100-byte messages with one send
// call per `perSend` messages, the other reading them in large reads.
// Blocking; runs about `seconds`.
class CLoopbackBaseline {
public:
    static constexpr int kMessageSize = 100;
    // Messages per second; 0 when the sockets cannot be set up.
    static double Measure(double seconds, int perSend);
};

} // namespace quorvel::load
