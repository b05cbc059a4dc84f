#pragma once

#include "quorvel_test_support/RawConnection.h"

#include <chrono>

namespace quorvel::soak {

// The hostile clients' connection: the test support's raw connection whose
// connects and sends give up after a second without progress, so an
// attacker never hangs on a server that stopped reading it and goes on
// with a new connection instead.
//
// Thread: one owner thread.
class CRawConnection : public testsupport::RawConnection {
public:
    // Connects to 127.0.0.1:port; `receiveBuffer` > 0 shrinks the socket's
    // receive buffer first (a slow reader); `from` names another loopback
    // address to connect from (an attacker of its own).
    bool Connect(int port, int receiveBuffer = 0, const char* from = nullptr)
    {
        return RawConnection::Connect(static_cast<unsigned>(port), {receiveBuffer, from, std::chrono::seconds(1)});
    }
};

} // namespace quorvel::soak
