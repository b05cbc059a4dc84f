#include "quorvel_client/CClientConnection.h"

#include "CClientEndpoint.h"

#include <corvane/CFrame.h>
#include <marlune/CXmlMsg.h>

namespace quorvel::client {

using corvane::CFrame;
using marlune::CMessageBase;
using marlune::CXmlMsg;

CClientConnection::CClientConnection(PayloadHandler onPayload, CloseHandler onClosed)
    : onPayload_(std::move(onPayload)), onClosed_(std::move(onClosed))
{
}

CClientConnection::~CClientConnection()
{
    Loop().Call([this] { endpoint_.reset(); });
}

bool CClientConnection::Connect(const std::string& host, int port)
{
    auto result = Loop().Call([this, host, port] {
        if (!endpoint_)
            endpoint_ = std::make_unique<CClientEndpoint>(onPayload_, onClosed_);
        return endpoint_->ConnectToServer(host, port) == 1;
    });
    return result.value_or(false);
}

bool CClientConnection::Send(CMessageBase& msg)
{
    const std::string payload = CXmlMsg().BuildBytes(msg);
    return !payload.empty() && SendPayload(payload);
}

bool CClientConnection::SendPayload(std::string_view payload)
{
    if (payload.size() > CFrame::kMaxPayload)
        return false;
    auto result = Loop().Call([this, payload] {
        return endpoint_ && endpoint_->SendBuff(payload.data(), static_cast<std::uint32_t>(payload.size())) == 1;
    });
    return result.value_or(false);
}

void CClientConnection::Close()
{
    Loop().Call([this] {
        if (endpoint_)
            endpoint_->DisConnect();
    });
}

bool CClientConnection::Connected()
{
    return Loop().Call([this] { return endpoint_ && endpoint_->IsConnected() == 1; }).value_or(false);
}

} // namespace quorvel::client
