#include "quorvel_service/CChatServer.h"

#include "quorvel_store/CDeliveryReceipt.h"
#include "CLoginHandler.h"
#include "CParseThread.h"
#include "CQueryHandler.h"
#include "CRegistrationHandler.h"
#include "CServerFederation.h"
#include "CStatusHandler.h"
#include "MessageTypePeek.h"
#include "quorvel_service/CRoutePass.h"

#include "corvane/CMyRASSocket.h"
#include "marlune/Marlune.h"
#include "marlune/MessageWords.h"
#include "scrivlet/CLog4c.h"
#include "scrivlet/LogText.h"

#include <algorithm>
#include <exception>
#include <string>

namespace quorvel::service {

using corvane::CMyRASServer_Srv;
using corvane::CMyRASSocket;
using corvane::LimitKey;
using corvane::ON_WS_DISCONNECTED;
using corvane::RAS_CALLBACK_PARA;
using corvane::RAS_LIMIT_PARA;
using marlune::CMessageBase;
using marlune::CMessageChangeStatu;
using marlune::CMessageHeart;
using marlune::CMessageServerPub;
using marlune::CMessageTransFile;
using marlune::CMessageUserFriend;
using marlune::CMessageUserInfor;
using marlune::CMessageUserList;
using marlune::CMessageUserLogin;
using marlune::CMessageUserReg;
using marlune::CMessageUserTalking;
using marlune::CTalker;
using marlune::CXmlMsg;
namespace message_word = marlune::message_word;
using store::CDeliveryReceipt;
using store::CServiceSnapshot;
using scrivlet::CLog4c;
using scrivlet::ErrorText;

namespace {

// The message as its class, or null when the object is of another class
// (a head built by hand with a known type name).
template <class T>
T* As(CMessageBase* message)
{
    return dynamic_cast<T*>(message);
}

template <class T>
const T* As(const CMessageBase* message)
{
    return dynamic_cast<const T*>(message);
}

constexpr int kError = 2;
// An announcement of 10,000 users (a server announces itself once a minute)
// costs 101 tokens of the costly-request budgets, a list answer of 2,000
// users 21.
constexpr std::size_t kUsersPerToken = 100;

// Requests whose handling costs far more than their bytes: a registration
// or profile change rewrites the directory file, an announcement replaces
// a neighbour's users and rewrites it too, a query answer copies up to a
// list's worth of users.
bool IsCostly(std::string_view type)
{
    return type == CMessageUserReg::kType || type == CMessageServerPub::kType || type == CMessageUserList::kType ||
           type == CMessageUserInfor::kType;
}

// The built bytes of message; logs why when nothing was built.
std::string Build(CLog4c& log, CMessageBase& message)
{
    CXmlMsg codec;
    std::string bytes = codec.BuildBytes(message);
    if (bytes.empty())
        log.LogEvent(0, "消息生成失败:%s %s", message.type.c_str(), codec.LastError().c_str());
    return bytes;
}

} // namespace

CChatServer::CChatServer(CLog4c& log, std::function<bool()> sendAllFriend)
    : log_(log),
      context_{log_, registry_, *this, limits_, counters_, std::move(sendAllFriend), [this] { RunConfigHook(); }},
      query_(std::make_unique<CQueryHandler>(context_)),
      status_(std::make_unique<CStatusHandler>(context_, *query_)),
      login_(std::make_unique<CLoginHandler>(context_, *status_)),
      registration_(std::make_unique<CRegistrationHandler>(context_)),
      federation_(std::make_unique<CServerFederation>(
          context_, *this, [this](const CMessageBase& message, const std::string& bytes) {
              return StoreUnhandled(message, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                    static_cast<std::uint32_t>(bytes.size()));
          })),
      parser_(std::make_unique<CParseThread>(Loop()))
{
    RegCallBackOnLimit(&CChatServer::OnLimit);
    BuildArrivalTable();
    BuildDeliveryTable();
}

void CChatServer::BuildArrivalTable()
{
    arrival_
        .Add(CMessageServerPub::kType,
             [this](CMessageBase& message, CMyRASSocket* socket) {
                 // A peer server that announced itself counts as logged in:
                 // the login time limit spares its connection.
                 if (socket != nullptr)
                     socket->MarkAdmitted();
                 federation_->OnServerPub(As<CMessageServerPub>(&message));
                 return true;
             })
        .Add(CMessageUserLogin::kType,
             [this](CMessageBase& message, CMyRASSocket* socket) {
                 auto* login = As<CMessageUserLogin>(&message);
                 login_->OnUserLogin(login, socket);
                 if (login != nullptr)
                     counters_->CountLogin(login->result == message_word::kSuccess);
                 return true;
             })
        .Add(CMessageUserReg::kType,
             [this](CMessageBase& message, CMyRASSocket* socket) {
                 registration_->OnUserReg(As<CMessageUserReg>(&message), socket);
                 return true;
             })
        .Add(CMessageUserInfor::kType,
             [this](CMessageBase& message, CMyRASSocket* socket) {
                 query_->OnUserInfor(As<CMessageUserInfor>(&message), socket);
                 return true;
             })
        .Add(CMessageUserList::kType,
             [this](CMessageBase& message, CMyRASSocket*) {
                 // Answered to the requesting user's connections, not only
                 // the one it came on.
                 query_->OnUserList(As<CMessageUserList>(&message), nullptr);
                 return true;
             })
        .AddAnyType([this](CMessageBase& message) {
            log_.LogEvent(0, "非即时处理消息:%s 已经加入消息队列处理....", message.type.c_str());
        })
        .Add(CMessageChangeStatu::kType,
             [this](CMessageBase& message, CMyRASSocket*) {
                 status_->OnChangeStatu(As<CMessageChangeStatu>(&message));
                 return true;
             })
        .Add(CMessageTransFile::kType, [this](CMessageBase& message, CMyRASSocket*) {
            if (!DeliverTransFile(&message))
                return false;
            counters_->CountRelayed();
            return true;
        });
}

void CChatServer::BuildDeliveryTable()
{
    delivery_
        .Add(CMessageUserTalking::kType,
             [this](CMessageBase& message, CDeliveryReceipt* receipt) { return DeliverTalking(&message, receipt); })
        .Add(CMessageChangeStatu::kType,
             [this](CMessageBase& message, CDeliveryReceipt*) {
                 status_->OnChangeStatu(As<CMessageChangeStatu>(&message));
                 return true;
             })
        .Add(CMessageUserFriend::kType,
             [this](CMessageBase& message, CDeliveryReceipt* receipt) {
                 return status_->OnUserFriend(As<CMessageUserFriend>(&message), receipt);
             })
        .Add(CMessageTransFile::kType,
             [this](CMessageBase& message, CDeliveryReceipt* receipt) { return DeliverTransFile(&message, receipt); });
}

CChatServer::~CChatServer()
{
    ClearServerLists();
}

void CChatServer::OnSckString(RAS_CALLBACK_PARA* para)
{
    if (para == nullptr)
        return;
    if (auto* service = dynamic_cast<CChatServer*>(para->server))
        service->OnFrame(para->data, para->length, para->socket);
}

void CChatServer::OnLimit(RAS_LIMIT_PARA* para)
{
    if (para == nullptr)
        return;
    if (auto* service = dynamic_cast<CChatServer*>(para->server))
        service->Counters().CountRefused(LimitKey(para->limit));
}

void CChatServer::OnFrame(const std::uint8_t* data, std::uint32_t length, CMyRASSocket* socket)
{
    try {
        if (RefusedBeforeParse(data, length, socket))
            return;
        if (length >= kParseElsewhereFrom && socket != nullptr && ParseElsewhere(data, length, *socket))
            return;
        CParsedFrame parsed;
        CParseThread::Parse(data, length, parsed);
        Dispatch(parsed, data, length, socket);
    } catch (const std::exception& error) {
        arriving_ = {};
        log_.LogEvent(ErrorText(error.what()).c_str());
    }
}

void CChatServer::SetParseGate(std::function<void()> gate)
{
    parser_->SetGate(std::move(gate));
}

bool CChatServer::ParseElsewhere(const std::uint8_t* data, std::uint32_t length, CMyRASSocket& socket)
{
    const std::uint64_t serial = socket.Serial();
    if (!parser_->Offer(data, length, [this, serial](CParsedFrame& parsed) { OnParsedElsewhere(parsed, serial); }))
        return false;
    socket.HoldFrames();
    return true;
}

void CChatServer::OnParsedElsewhere(CParsedFrame& parsed, std::uint64_t serial)
{
    CMyRASSocket* socket = FindConnection(serial);
    if (socket == nullptr)
        return;
    // A connection the server closed meanwhile (a bound bit) loses this
    // frame as it loses the others it had not handled yet. A peer's own
    // close is seen only once its frames resume, so what a peer sent
    // before closing is handled.
    if (socket->active != 0 && socket->IsOpen()) {
        try {
            Dispatch(parsed, parsed.bytes->Data(), static_cast<std::uint32_t>(parsed.bytes->Size()), socket);
        } catch (const std::exception& error) {
            arriving_ = {};
            log_.LogEvent(ErrorText(error.what()).c_str());
        }
    }
    socket->ResumeFrames();
}

CMyRASSocket* CChatServer::FindConnection(std::uint64_t serial) const
{
    for (const auto& connection : connections) {
        if (connection->Serial() == serial)
            return connection.get();
    }
    return nullptr;
}

void CChatServer::Dispatch(CParsedFrame& parsed, const std::uint8_t* data, std::uint32_t length, CMyRASSocket* socket)
{
    CMessageBase* message = parsed.message.get();
    counters_->CountReceived(message ? std::string_view(message->type) : std::string_view());
    if (message) {
        arriving_ = {message, parsed.ownLayout ? std::string_view(reinterpret_cast<const char*>(data), length)
                                               : std::string_view()};
        const bool handled = HandleMsg(message, socket);
        arriving_ = {};
        if (!handled)
            StoreUnhandled(*message, data, length);
        return;
    }
    if (!parsed.head.target.empty())
        ForwardUnparsed(parsed.head, data, length);
    else if (!parsed.error.empty())
        log_.LogEvent(0, "无法解析的消息已丢弃:%s", parsed.error.c_str());
}

bool CChatServer::StoreUnhandled(const CMessageBase& message, const std::uint8_t* data, std::uint32_t length)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    if (!store_) {
        log_.LogEvent(0, "没有消息存储,非即时消息未保存:%s source:%s target:%s", message.type.c_str(),
                      message.source.c_str(), message.target.c_str());
        return false;
    }
    if (!store_(message, bytes, length)) {
        log_.LogEvent(0, "非即时消息保存失败,已丢弃:%s source:%s target:%s", message.type.c_str(),
                      message.source.c_str(), message.target.c_str());
        return false;
    }
    counters_->CountStored();
    log_.LogEvent(0, "非即时消息已放入消息队列处理...%s source:%s target:%s", message.type.c_str(),
                  message.source.c_str(), message.target.c_str());
    return true;
}

void CChatServer::ForwardUnparsed(const CMessageBase& head, const std::uint8_t* data, std::uint32_t length)
{
    const std::string userId = head.DetachTargetUserId();
    const std::string serverName = head.DetachTargetServerName();
    if (userId.empty() || !(serverName.empty() || serverName == localServer.name))
        return;
    log_.LogEvent(0, "未知版本消息,已转发:%s source:%s target:%s", head.type.c_str(), head.source.c_str(),
                  head.target.c_str());
    if (SendToUser(userId, data, length) != 0)
        counters_->CountRelayed();
}

bool CChatServer::HandleMsg(CMessageBase* message, CMyRASSocket* socket)
{
    if (message == nullptr)
        return true;
    const bool routedHere = registry_.IsRoutedHere(*message);
    // A request over its budget is dropped with the budget's own throttled
    // line alone: a flood of them must not cost a log line each.
    if (!routedHere && !WithinBudget(*message, socket))
        return true;
    log_.LogEvent(0, "消息:%s source:%s target:%s", message->type.c_str(), message->source.c_str(),
                  message->target.c_str());
    if (message->type == CMessageHeart::kType) {
        const auto* heart = As<CMessageHeart>(message);
        log_.LogEvent(0, "接收到一个心跳包,来自:%s", heart ? heart->sender.c_str() : "");
        return true;
    }
    if (routedHere)
        return true;
    message->AddRoutedServer(localServer);
    const bool handled = arrival_.Dispatch(*message, socket);
    ChargeAnswer(*message, socket);
    return handled;
}

void CChatServer::ChargeAnswer(const CMessageBase& message, const CMyRASSocket* socket)
{
    // An answer costs what its users cost to copy, build and queue: a full
    // one of 2,000 records hundreds of times a short one. The asking
    // connection and address pay one more token for every 100 users, as an
    // announcement does, so a minute's budget of full answers cannot take
    // the loop's whole time.
    std::size_t users = 0;
    if (const auto* list = As<CMessageUserList>(&message))
        users = list->talkers.size();
    else if (const auto* infor = As<CMessageUserInfor>(&message))
        users = infor->talkers.size();
    if (socket != nullptr && users >= kUsersPerToken)
        budget_.Spend(socket->Serial(), CRequestBudget::Clock::now(), users / kUsersPerToken);
}

void CChatServer::SetLimits(const CServiceLimits& limits)
{
    limits_ = limits;
    SetConnectionLimits(limits.connections);
    budget_ = CRequestBudget(limits_.costlyRequestsPerConnection, limits_.costlyRequestsPerAddress);
}

bool CChatServer::WithinBudget(CMessageBase& message, CMyRASSocket* socket)
{
    const std::string& type = message.type;
    if (socket == nullptr || !IsCostly(type))
        return true;
    std::uint64_t cost = 1;
    if (const auto* pub = As<CMessageServerPub>(&message))
        cost += std::min(pub->server.Talkers().size(), limits_.maxAnnouncedUsers) / kUsersPerToken;
    const auto now = CRequestBudget::Clock::now();
    std::string address;
    const CRequestBudget::Verdict verdict =
        budget_.Admit(socket->Serial(), [socket] { return socket->PeerAddress(); }, now, cost, address);
    if (verdict == CRequestBudget::Verdict::kAdmitted)
        return true;
    Refuse(verdict, address, type, now);
    return false;
}

bool CChatServer::RefusedBeforeParse(const std::uint8_t* data, std::uint32_t length, CMyRASSocket* socket)
{
    if (socket == nullptr)
        return false;
    const std::string_view type = PeekMessageType(std::string_view(reinterpret_cast<const char*>(data), length));
    if (!IsCostly(type))
        return false;
    const auto now = CRequestBudget::Clock::now();
    std::string address;
    const CRequestBudget::Verdict verdict =
        budget_.Check(socket->Serial(), [socket] { return socket->PeerAddress(); }, now, address);
    if (verdict == CRequestBudget::Verdict::kAdmitted)
        return false;
    counters_->CountReceived(type);
    Refuse(verdict, address, type, now);
    return true;
}

void CChatServer::Refuse(CRequestBudget::Verdict verdict, const std::string& address, std::string_view type,
                         CRequestBudget::Clock::time_point now)
{
    const bool connection = verdict == CRequestBudget::Verdict::kConnection;
    counters_->CountRefused(connection ? "CostlyRequestsPerConnection" : "CostlyRequestsPerAddress");
    if (budgetLines_.Allow(connection ? "connection budget" : "address budget", address, now))
        log_.LogEvent(kError, "来自 %s 的请求过于频繁,超过每个%s每分钟 %zu 次的限制,%.*s 请求已丢弃", address.c_str(),
                      connection ? "连接" : "地址",
                      connection ? limits_.costlyRequestsPerConnection : limits_.costlyRequestsPerAddress,
                      static_cast<int>(type.size()), type.data());
}

bool CChatServer::HandleMsgCache(CMessageBase* message, CDeliveryReceipt* receipt)
{
    if (message == nullptr)
        return true;
    log_.LogEvent(0, "HandleMsgCache type:%s source:%s target:%s", message->type.c_str(), message->source.c_str(),
                  message->target.c_str());
    if (message->route)
        return federation_->RouteMessage(message);
    return delivery_.Dispatch(*message, receipt);
}

bool CChatServer::BindUser(CMyRASSocket& socket, std::string_view userId)
{
    return bound_.Bind(socket, userId);
}

std::string CChatServer::UnbindUser(CMyRASSocket& socket)
{
    return bound_.Unbind(socket);
}

const std::vector<CMyRASSocket*>& CChatServer::ConnectionsOf(std::string_view userId) const
{
    return bound_.Of(userId);
}

int CChatServer::SendToUser(std::string_view userId, const void* bytes, std::uint32_t length,
                            CDeliveryReceipt* receipt)
{
    // An empty id names nobody (the index holds no empty id): it must not
    // reach every connection that has not logged in.
    const std::vector<CMyRASSocket*>& bound = ConnectionsOf(userId);
    if (bound.size() == 1)
        return receipt != nullptr ? SendBuff(bound.front(), bytes, length, receipt->Track())
                                  : SendBuff(bound.front(), bytes, length);
    if (bound.empty())
        return 0;
    return SendSharedToUser(userId,
                            std::make_shared<const std::string>(static_cast<const char*>(bytes), length), receipt);
}

int CChatServer::SendSharedToUser(std::string_view userId, const CMyRASSocket::SharedBytes& bytes,
                                  CDeliveryReceipt* receipt)
{
    // Should a send ever close (and so unbind) a connection at once, the
    // list would change under the walk: walk a copy. Every connection
    // queues the same bytes, not a copy of its own.
    const std::vector<CMyRASSocket*>& bound = ConnectionsOf(userId);
    // One connection needs no copy: the list is not read after its send.
    if (bound.size() == 1)
        return SendShared(bound.front(), bytes, receipt != nullptr ? receipt->Track() : nullptr);
    int result = 0;
    for (CMyRASSocket* connection : std::vector<CMyRASSocket*>(bound))
        result |= SendShared(connection, bytes, receipt != nullptr ? receipt->Track() : nullptr);
    return result;
}

CChatServer::UserLinks CChatServer::LinksOf(std::string_view userId) const
{
    UserLinks links;
    for (const CMyRASSocket* connection : ConnectionsOf(userId)) {
        links.connections.push_back(connection->Serial());
        links.unwritten = std::max(links.unwritten, connection->UnwrittenBytes());
    }
    return links;
}

int CChatServer::SendMessageOn(CMyRASSocket* socket, CMessageBase& message)
{
    const std::string bytes = Build(log_, message);
    if (bytes.empty() || socket == nullptr)
        return 0;
    return SendBuff(socket, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

int CChatServer::SendMessageToUser(std::string_view userId, CMessageBase& message, CDeliveryReceipt* receipt)
{
    auto bytes = std::make_shared<const std::string>(Build(log_, message));
    if (bytes->empty())
        return 0;
    return SendSharedToUser(userId, bytes, receipt);
}

bool CChatServer::DeliverTransFile(CMessageBase* message, CDeliveryReceipt* receipt)
{
    if (message == nullptr || registry_.MarkForRouting(*message) || message->route)
        return false;
    if (message == arriving_.message && !arriving_.payload.empty()) {
        std::string relayed = CXmlMsg::BuildRelayed(arriving_.payload, *message);
        if (!relayed.empty())
            return SendSharedToUser(message->DetachTargetUserId(),
                                    std::make_shared<const std::string>(std::move(relayed)), receipt) != 0;
    }
    return SendMessageToUser(message->DetachTargetUserId(), *message, receipt) != 0;
}

bool CChatServer::DeliverTalking(CMessageBase* message, CDeliveryReceipt* receipt)
{
    if (message == nullptr || registry_.MarkForRouting(*message))
        return false;
    if (message->DetachTargetServerName() != localServer.name)
        return false;
    return SendMessageToUser(message->DetachTargetUserId(), *message, receipt) != 0;
}

void CChatServer::SetConfigHook(std::function<void()> hook)
{
    configHook = std::move(hook);
}

void CChatServer::RunConfigHook()
{
    if (!configHook)
        return;
    try {
        configHook();
    } catch (const std::exception& error) {
        log_.LogEvent(ErrorText(error.what()).c_str());
    }
}

void CChatServer::ClearServerLists()
{
    neighbors.clear();
    routeServers.clear();
}

void CChatServer::SetMsgStore(MsgStore store)
{
    store_ = std::move(store);
}

CServiceSnapshot CChatServer::TakeSnapshot() const
{
    CServiceSnapshot snapshot;
    snapshot.localName = localServer.name;
    snapshot.transportLog = GetLogEvent();
    snapshot.loop = &Loop();
    snapshot.counters = counters_;
    snapshot.newRouter = &CRoutePass::Start;
    snapshot.loggedIn.reserve(bound_.UserCount());
    bound_.ForEachUser([&](const std::string& userId, const CUserConnections::List&) {
        if (const CTalker* talker = localServer.GetTalkerByUserID(userId))
            snapshot.loggedIn.push_back({userId, talker->serverName});
    });
    for (const auto& route : routeServers)
        snapshot.routeServers.push_back(route->Identity());
    return snapshot;
}

void CChatServer::OnWsDisconnected(ON_WS_DISCONNECTED* para)
{
    login_->OnWsDisconnected(para);
}

int CChatServer::AddNewClientSocket(CMyRASSocket* socket)
{
    counters_->CountConnection();
    return CMyRASServer_Srv::AddNewClientSocket(socket);
}

void CChatServer::AnnounceToRouteServers()
{
    federation_->AnnounceToRouteServers();
}

} // namespace quorvel::service
