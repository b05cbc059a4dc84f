#include "CClientEndpoint.h"

#include <corvane/Callbacks.h>

namespace quorvel::client {

using corvane::CMyRASServer_Client;
using corvane::CMyRASSocket;
using corvane::RAS_CALLBACK_PARA;

CClientEndpoint::CClientEndpoint(PayloadHandler onPayload, CloseHandler onClosed)
    : onPayload_(std::move(onPayload)), onClosed_(std::move(onClosed))
{
    RegCallBackOnSckString(&CClientEndpoint::OnString);
}

void CClientEndpoint::OnSocketClosed(CMyRASSocket* socket)
{
    CMyRASServer_Client::OnSocketClosed(socket);
    if (onClosed_)
        onClosed_();
}

void CClientEndpoint::OnString(RAS_CALLBACK_PARA* para)
{
    auto* self = dynamic_cast<CClientEndpoint*>(para->server);
    if (self != nullptr && self->onPayload_)
        self->onPayload_(para->data, para->length);
}

} // namespace quorvel::client
