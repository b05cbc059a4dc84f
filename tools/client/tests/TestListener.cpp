#include "TestListener.h"

#include "quorvel_test_support/FreePort.h"

#include <corvane/CMyRASSocket.h>
#include <marlune/Marlune.h>

using corvane::RAS_CALLBACK_PARA;
using marlune::BX_DATA;
using marlune::CXmlMsg;
using quorvel::testsupport::ListenOnFreePort;

std::vector<std::string> TestListener::Payloads() const
{
    std::lock_guard lock(mutex_);
    return payloads_;
}

void TestListener::CloseAll()
{
    for (auto& connection : connections)
        connection->Close();
}

void TestListener::OnString(RAS_CALLBACK_PARA* para)
{
    auto* self = dynamic_cast<TestListener*>(para->server);
    if (self == nullptr)
        return;
    {
        std::lock_guard lock(self->mutex_);
        self->payloads_.emplace_back(reinterpret_cast<const char*>(para->data), para->length);
    }
    CXmlMsg codec;
    auto msg = codec.ParseXmlNew(para->data, para->length, nullptr);
    if (msg == nullptr || !self->responder)
        return;
    for (auto& reply : self->responder(*msg)) {
        BX_DATA bx(reply.get());
        if (codec.BuildXml(&bx) > 0)
            self->SendBuff(para->socket, bx.Data(), static_cast<std::uint32_t>(bx.Length()));
    }
}

ListenerFixture::ListenerFixture(TestListener::Responder responder)
{
    thread_.Loop().Call([this, &responder] {
        listener_ = std::make_unique<TestListener>();
        listener_->responder = std::move(responder);
        listener_->RegCallBackOnSckString(&TestListener::OnString);
        port_ = ListenOnFreePort(*listener_);
    });
}

ListenerFixture::~ListenerFixture()
{
    thread_.Loop().Call([this] { listener_.reset(); });
}

void ListenerFixture::CloseClients()
{
    thread_.Loop().Call([this] { listener_->CloseAll(); });
}
