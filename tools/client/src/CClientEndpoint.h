#pragma once

#include <corvane/CMyRASServer_Client.h>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace quorvel::client {

// The transport's outbound endpoint with its callbacks turned into
// std::function handlers, both run on the endpoint's loop thread.
// Created, used and destroyed on that loop thread (CClientConnection).
class CClientEndpoint : public corvane::CMyRASServer_Client {
public:
    using PayloadHandler = std::function<void(const std::uint8_t* data, std::size_t length)>;
    using CloseHandler = std::function<void()>;

    CClientEndpoint(PayloadHandler onPayload, CloseHandler onClosed);

    // The peer closed the connection: the base's handling, then onClosed.
    void OnSocketClosed(corvane::CMyRASSocket* socket) override;

private:
    static void OnString(corvane::RAS_CALLBACK_PARA* para);

    PayloadHandler onPayload_;
    CloseHandler onClosed_;
};

} // namespace quorvel::client
