#include "CLoadFleet.h"

#include "CLoadPayload.h"

#include <marlune/CXmlMsg.h>
#include <marlune/MessageWords.h>
#include <quorvel_client/CClientIdentity.h>
#include <quorvel_client/CRequestBuilder.h>

namespace quorvel::load {

using marlune::CXmlMsg;
namespace message_word = marlune::message_word;
using client::CClientIdentity;
using client::CRequestBuilder;

namespace {
// Connects started and not yet finished: enough to fill the server's accept
// backlog without overflowing it.
constexpr std::uint32_t kConnectWindow = 200;
}

CLoadFleet::CLoadFleet(asio::io_context& io, asio::ip::tcp::endpoint server, bool forceLogin)
    : io_(io), work_(io.get_executor()), server_(server), forceLogin_(forceLogin)
{
}

std::uint32_t CLoadFleet::Add(std::uint32_t count, const std::string& prefix)
{
    const auto first = Size();
    users_.reserve(users_.size() + count);
    for (std::uint32_t i = 0; i < count; ++i) {
        User u;
        u.id = prefix + std::to_string(i);
        users_.push_back(std::move(u));
    }
    return first;
}

bool CLoadFleet::RunUntil(const std::function<bool()>& done, Clock::time_point deadline)
{
    while (!done()) {
        if (Clock::now() >= deadline)
            return false;
        io_.run_one_until(deadline);
    }
    return true;
}

void CLoadFleet::Attach(std::uint32_t user)
{
    auto& conn = users_[user].connection;
    conn = std::make_shared<CLoadConnection>(io_);
    conn->OnFrame([this, user](std::string_view payload) { OnPayload(user, payload); });
    conn->OnClose([this](const std::error_code&) { ++closed_; });
}

void CLoadFleet::StartConnect(std::uint32_t user)
{
    Attach(user);
    ++connectsInFlight_;
    users_[user].connection->Connect(server_, [this, user](const std::error_code& ec) {
        --connectsInFlight_;
        if (ec)
            ++connectFailures_;
        else
            users_[user].connected = true;
    });
}

bool CLoadFleet::Connect(std::uint32_t first, std::uint32_t count, Clock::time_point deadline)
{
    std::uint32_t next = first;
    const std::uint32_t end = first + count;
    const auto failuresBefore = connectFailures_;
    auto allDone = [&] {
        while (next < end && connectsInFlight_ < kConnectWindow)
            StartConnect(next++);
        return next == end && connectsInFlight_ == 0;
    };
    return RunUntil(allDone, deadline) && connectFailures_ == failuresBefore;
}

bool CLoadFleet::Login(std::uint32_t first, std::uint32_t count, Clock::time_point deadline)
{
    CClientIdentity me;
    CRequestBuilder builder(me);
    for (std::uint32_t i = first; i < first + count; ++i) {
        User& u = users_[i];
        auto message = forceLogin_ ? builder.ForceLogin(u.id, u.id, kPassword, "online")
                                   : builder.Login(u.id, kPassword, "online");
        u.loginAnswered = false;
        u.loginSent = Clock::now();
        u.connection->Send(CXmlMsg().BuildBytes(*message));
    }
    auto answered = [&] {
        for (std::uint32_t i = first; i < first + count; ++i)
            if (!users_[i].loginAnswered && users_[i].connection->Open())
                return false;
        return true;
    };
    if (!RunUntil(answered, deadline))
        return false;
    for (std::uint32_t i = first; i < first + count; ++i)
        if (!users_[i].loggedIn)
            return false;
    return true;
}

void CLoadFleet::OnPayload(std::uint32_t user, std::string_view payload)
{
    User& u = users_[user];
    const auto type = CLoadPayload::TypeOf(payload);
    if (!u.loginAnswered && type == "user-login") {
        u.loginAnswered = true;
        u.loginAnswer = Clock::now();
        const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(u.loginAnswer - u.loginSent);
        loginLatency_.Record(static_cast<std::uint64_t>(micros.count()));
        u.loggedIn = CLoadPayload::Attribute(payload, "result") == message_word::kSuccess;
        if (!u.loggedIn)
            ++loginsRefused_;
        if (serverName_.empty())
            serverName_ = CLoadPayload::LastRoutedServer(payload);
        return;
    }
    if (type == "user-changestatu")
        ++statusNotices_;
    if (onMessage_)
        onMessage_(user, payload);
}

void CLoadFleet::CloseAll()
{
    for (auto& u : users_)
        if (u.connection)
            u.connection->Close();
    // Let the closed sockets' handlers finish before the fleet goes away.
    io_.poll();
}

} // namespace quorvel::load
