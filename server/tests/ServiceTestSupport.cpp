#include "ServiceTestSupport.h"

#include "marlune/Marlune.h"
#include "quorvel_test_support/FreePort.h"
#include "quorvel_test_support/WaitUntil.h"

#include <stdexcept>

using marlune::BX_DATA;
using marlune::CMessageBase;
using marlune::CMessageUserInfor;
using marlune::CMessageUserLogin;
using marlune::CTalker;
using marlune::CTalkerServer;
using marlune::CXmlMsg;
using quorvel::service::CChatServer;
using quorvel::testsupport::ListenOnFreePort;
using quorvel::testsupport::WaitUntil;

namespace {

std::mutex g_linesLock;
std::vector<std::string> g_lines;

void TransportLog(const char* text)
{
    ServiceLogLines::Add(text);
}

constexpr const char* kSyncMemo = "sync-probe";

} // namespace

void ServiceLogLines::Add(const char* line)
{
    std::lock_guard lock(g_linesLock);
    g_lines.emplace_back(line ? line : "");
}

void ServiceLogLines::Clear()
{
    std::lock_guard lock(g_linesLock);
    g_lines.clear();
}

std::vector<std::string> ServiceLogLines::All()
{
    std::lock_guard lock(g_linesLock);
    return g_lines;
}

std::vector<std::string> ServiceLogLines::With(const std::string& text)
{
    std::vector<std::string> found;
    for (const auto& line : All()) {
        if (line.find(text) != std::string::npos)
            found.push_back(line);
    }
    return found;
}

bool ServiceLogLines::WaitFor(const std::string& text, std::chrono::milliseconds limit)
{
    return WaitUntil([&] { return Count(text) > 0; }, limit);
}

ServiceFixture::ServiceFixture(const std::string& localName, unsigned port)
{
    ServiceLogLines::Clear();
    log_.RegLogEvent(&ServiceLogLines::Add);
    port_ = OnLoopCreate(localName, port);
}

unsigned ServiceFixture::OnLoopCreate(const std::string& localName, unsigned fixedPort)
{
    auto port = thread_.Loop().Call([this, localName, fixedPort]() -> unsigned {
        service_ = std::make_unique<CChatServer>(log_, [this] { return sendAllFriend.load(); });
        service_->SetLogEvent(&TransportLog);
        service_->RegCallBackOnSckString(&CChatServer::OnSckString);
        service_->localServer.name = localName;
        service_->SetConfigHook([this] { ++configSaves; });
        service_->SetMsgStore([this](const CMessageBase& message, const char* bytes, std::size_t length) {
            std::lock_guard lock(storedLock_);
            stored_.push_back({message.type, message.source, message.target, std::string(bytes, length)});
            return true;
        });
        if (fixedPort != 0)
            return service_->BeginListen(fixedPort) ? fixedPort : 0;
        return ListenOnFreePort(*service_);
    });
    if (!port || *port == 0)
        throw std::runtime_error("the service found no free port");
    return *port;
}

ServiceFixture::~ServiceFixture()
{
    thread_.Loop().Call([this] { service_.reset(); });
    log_.RegLogEvent(nullptr);
}

void ServiceFixture::AddUser(const std::string& userId, const std::string& password, const std::string& name,
                             const std::string& friends)
{
    OnLoop([&](CChatServer& service) {
        service.localServer.AddTalker(MakeTalker(userId, service.localServer.name, name, password, friends));
    });
}

void ServiceFixture::AddNeighbor(const std::string& name, const std::vector<CTalker>& users)
{
    OnLoop([&](CChatServer& service) {
        auto neighbor = std::make_unique<CTalkerServer>();
        neighbor->name = name;
        for (const auto& user : users)
            neighbor->AddTalker(user);
        service.neighbors.push_back(std::move(neighbor));
    });
}

std::optional<CTalker> ServiceFixture::Find(const std::string& address)
{
    return OnLoop([&](CChatServer& service) -> std::optional<CTalker> {
        if (const CTalker* talker = service.FindTalker(address))
            return *talker;
        return std::nullopt;
    });
}

void ServiceFixture::RemoveStore()
{
    OnLoop([](CChatServer& service) { service.SetMsgStore(nullptr); });
}

std::vector<StoredMessage> ServiceFixture::Stored()
{
    std::lock_guard lock(storedLock_);
    return stored_;
}

std::uint64_t ServiceFixture::Refused(const std::string& key)
{
    const auto values = OnLoop([](CChatServer& service) { return service.Counters().Read(); });
    for (const auto& [name, count] : values.refused) {
        if (name == key)
            return count;
    }
    return 0;
}

bool TestClient::Send(CMessageBase& message)
{
    BX_DATA bx(&message);
    CXmlMsg codec;
    if (codec.BuildXml(&bx) == 0)
        return false;
    return SendFrame(bx.buff);
}

std::unique_ptr<CMessageBase> TestClient::ReceiveMessage(std::chrono::milliseconds limit)
{
    auto payload = ReceiveFrame(limit);
    return payload ? Parse(*payload) : nullptr;
}

std::optional<std::vector<std::string>> TestClient::Sync()
{
    CMessageUserInfor probe;
    probe.type = CMessageUserInfor::kType;
    probe.memo = kSyncMemo;
    if (!Send(probe))
        return std::nullopt;
    std::vector<std::string> before;
    while (auto payload = ReceiveFrame()) {
        auto message = Parse(*payload);
        if (message && message->type == CMessageUserInfor::kType && message->memo == kSyncMemo)
            return before;
        before.push_back(*payload);
    }
    return std::nullopt;
}

std::string TestClient::Login(const std::string& userId, const std::string& password, bool force,
                              const std::string& statu)
{
    CMessageUserLogin login;
    login.type = CMessageUserLogin::kType;
    login.userId = userId;
    login.password = password;
    login.statu = statu;
    login.force = force ? "true" : "";
    if (!Send(login))
        return "<not sent>";
    while (auto message = ReceiveMessage()) {
        if (auto* reply = dynamic_cast<CMessageUserLogin*>(message.get()))
            return reply->result;
    }
    return "<no reply>";
}

std::string TypeOf(const std::string& payload)
{
    auto message = Parse(payload);
    return message ? message->type : std::string();
}

std::unique_ptr<CMessageBase> Parse(const std::string& payload)
{
    CXmlMsg codec;
    return codec.ParseXmlNew(payload.data(), payload.size(), nullptr);
}

CTalker MakeTalker(const std::string& userId, const std::string& serverName, const std::string& name,
                   const std::string& password, const std::string& friends)
{
    CTalker talker;
    talker.userId = userId;
    talker.serverName = serverName;
    talker.name = name.empty() ? userId : name;
    talker.password = password;
    talker.friends = friends;
    return talker;
}
