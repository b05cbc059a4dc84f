#include "quorvel_client/CSyncClient.h"

#include <marlune/Marlune.h>

namespace quorvel::client {

using marlune::CMessageBase;
using marlune::CMessageUserLogin;
using marlune::CMessageUserReg;
using marlune::CXmlMsg;
namespace message_word = marlune::message_word;

CSyncClient::CSyncClient()
    : connection_(std::make_unique<CClientConnection>(
          [this](const std::uint8_t* data, std::size_t length) { OnPayload(data, length); },
          [this] {
              std::lock_guard lock(mutex_);
              closed_ = true;
              arrived_.notify_all();
          }))
{
}

CSyncClient::~CSyncClient()
{
    connection_.reset();
}

bool CSyncClient::Connect(const std::string& host, int port)
{
    return connection_->Connect(host, port);
}

void CSyncClient::OnPayload(const std::uint8_t* data, std::size_t length)
{
    auto msg = CXmlMsg().ParseXmlNew(data, length, nullptr);
    if (msg == nullptr) {
        ++unreadable_;
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (queue_.size() >= kMaxQueued)
            queue_.pop_front();
        queue_.push_back(std::move(msg));
    }
    arrived_.notify_all();
}

std::unique_ptr<CMessageBase> CSyncClient::WaitFor(const std::string& type, std::chrono::milliseconds limit,
                                                   const Predicate& pred)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    std::unique_lock lock(mutex_);
    auto take = [&]() -> std::unique_ptr<CMessageBase> {
        for (auto it = queue_.begin(); it != queue_.end(); ++it) {
            if ((type.empty() || (*it)->type == type) && (!pred || pred(**it))) {
                auto found = std::move(*it);
                queue_.erase(it);
                return found;
            }
        }
        return nullptr;
    };
    for (;;) {
        if (auto found = take())
            return found;
        if (closed_ || arrived_.wait_until(lock, until) == std::cv_status::timeout)
            return take();
    }
}

std::deque<std::unique_ptr<CMessageBase>> CSyncClient::TakeAll()
{
    std::lock_guard lock(mutex_);
    return std::exchange(queue_, {});
}

bool CSyncClient::Login(std::string_view userId, std::string_view password, std::string_view statu,
                        std::chrono::milliseconds limit)
{
    auto request = builder_.Login(userId, password, statu);
    if (!Send(*request))
        return false;
    const std::string id = request->userId;
    auto reply = WaitFor(CMessageUserLogin::kType, limit,
                         [&](const CMessageBase& m) { return static_cast<const CMessageUserLogin&>(m).userId == id; });
    const auto* login = static_cast<const CMessageUserLogin*>(reply.get());
    if (login == nullptr || login->result != message_word::kSuccess)
        return false;
    me_.TakeLogin(login->userId, userId, *login);
    return true;
}

bool CSyncClient::Register(std::string_view userId, std::string_view name, std::string_view password,
                           std::chrono::milliseconds limit)
{
    auto request = builder_.Register(userId, name, {}, password, {}, false);
    if (!Send(*request))
        return false;
    const std::string id = request->userId;
    auto reply = WaitFor(CMessageUserReg::kType, limit,
                         [&](const CMessageBase& m) { return static_cast<const CMessageUserReg&>(m).userId == id; });
    return reply != nullptr && static_cast<const CMessageUserReg&>(*reply).result == message_word::kSuccess;
}

bool CSyncClient::Say(std::string_view address, std::string_view text)
{
    return Send(*builder_.Talk(me_.Resolve(address), text));
}

bool CSyncClient::Send(CMessageBase& msg)
{
    return connection_->Send(msg);
}

bool CSyncClient::SendPayload(std::string_view payload)
{
    return connection_->SendPayload(payload);
}

void CSyncClient::Close()
{
    connection_->Close();
}

} // namespace quorvel::client
