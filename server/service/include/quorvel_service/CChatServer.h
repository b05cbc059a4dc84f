#pragma once

#include "quorvel_service/CDispatchTable.h"
#include "quorvel_service/CHandlerContext.h"
#include "quorvel_service/CRequestBudget.h"
#include "quorvel_service/CServerRegistry.h"
#include "quorvel_service/CServiceCounters.h"
#include "quorvel_service/CServiceLimits.h"
#include "quorvel_service/CUserConnections.h"
#include "quorvel_service/CUserSender.h"
#include "quorvel_store/CDeliveryTarget.h"
#include "quorvel_store/CServiceSnapshot.h"

#include "corvane/CLogThrottle.h"
#include "corvane/CMyRASServer_Srv.h"
#include "marlune/CTalkerServer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {
class CMyRASSocket;
}
namespace marlune {
class CMessageBase;
class CTalker;
}
namespace quorvel::store {
class CDeliveryReceipt;
}
namespace scrivlet {
class CLog4c;
}

namespace quorvel::service {

class CLoginHandler;
class CParseThread;
struct CParsedFrame;
class CQueryHandler;
class CRegistrationHandler;
class CServerFederation;
class CStatusHandler;

// The message service: the listening endpoint that receives every frame,
// parses it and decides, by message type, between handling it at once,
// storing it for the delivery worker, and forwarding it. It holds this
// server's record with its user registry and the lists of neighbour and
// route servers. The handlers of each group of message types live in
// collaborator classes that see only a narrow context (CHandlerContext: the
// registry, the sender, the config hook); two tables (CDispatchTable) map
// each message type to its handler, one at arrival and one at delivery.
//
// Threads: the service belongs to the loop that is current on the thread that
// constructs it (CEventLoop). It is constructed, used and destroyed on that
// loop thread; every method runs there unless its comment says otherwise.
// Other threads reach it with CEventLoop::Call (the delivery worker hands
// stored messages to HandleMsgCache that way and reads the service through
// TakeSnapshot).
class CChatServer : public corvane::CMyRASServer_Srv, public store::CDeliveryTarget, public CUserSender {
public:
    // Files a message that was not handled at arrival: the parsed message
    // (for its addresses) and the bytes exactly as received. True when the
    // message was stored. Called on the loop thread.
    using MsgStore = std::function<bool(const marlune::CMessageBase& message, const char* bytes, std::size_t length)>;

    // `log` and the SendAllFriend setting outlive the service; the setting is
    // read at each use. Registers OnLimit as the limit callback; whoever
    // starts the service registers OnSckString before it listens.
    CChatServer(scrivlet::CLog4c& log, std::function<bool()> sendAllFriend);
    ~CChatServer() override;

    // This server: name, address, port text, description and its users.
    marlune::CTalkerServer localServer;
    // Servers learnt from the directory file or from their announcements.
    std::vector<std::unique_ptr<marlune::CTalkerServer>> neighbors;
    // Servers this one announces itself to and forwards messages through.
    std::vector<std::unique_ptr<marlune::CTalkerServer>> routeServers;

    // The receive callback: reaches the service through the endpoint that
    // received the frame, so it never outlives the service.
    static void OnSckString(corvane::RAS_CALLBACK_PARA* para);
    // The limit callback: counts each bite of a transport bound among the
    // refusals, by its [LIMITS] key.
    static void OnLimit(corvane::RAS_LIMIT_PARA* para);
    // Parses one received payload and handles, stores or forwards it. A
    // payload of kParseElsewhereFrom bytes or more is parsed on the
    // service's parse thread while the loop serves the other connections;
    // its connection's frames are held until it was handled, so they are
    // still handled in order.
    void OnFrame(const std::uint8_t* data, std::uint32_t length, corvane::CMyRASSocket* socket);
    // Parsing takes about 10 ms a MiB: from 256 KiB on, a payload costs the
    // loop more than a turn of small frames from every other connection,
    // and more than the copy and the hand-over to the parse thread.
    static constexpr std::uint32_t kParseElsewhereFrom = 256u * 1024;
    // Runs on the parse thread before each parse there; tests hold it to
    // see what the loop does meanwhile. Set before the first frame.
    void SetParseGate(std::function<void()> gate);

    // Dispatch at arrival. True: finished with; false: to be stored.
    bool HandleMsg(marlune::CMessageBase* message, corvane::CMyRASSocket* socket);
    // Dispatch of a stored message offered again. True: delivered or
    // finished (the stored copy is marked sent); false: it stays pending.
    // With a receipt, true means handed to the user's connections: the
    // receipt then tracks every send to the user (see CDeliveryReceipt).
    bool HandleMsgCache(marlune::CMessageBase* message, store::CDeliveryReceipt* receipt = nullptr) override;

    // CUserSender: connections and users. ConnectionsOf costs the user's
    // connections, not the server's.
    bool BindUser(corvane::CMyRASSocket& socket, std::string_view userId) override;
    std::string UnbindUser(corvane::CMyRASSocket& socket) override;
    const std::vector<corvane::CMyRASSocket*>& ConnectionsOf(std::string_view userId) const override;
    int SendToUser(std::string_view userId, const void* bytes, std::uint32_t length,
                   store::CDeliveryReceipt* receipt = nullptr) override;
    // SendToUser of bytes no one changes: every connection queues them
    // without a copy of its own.
    int SendSharedToUser(std::string_view userId, const corvane::CMyRASSocket::SharedBytes& bytes,
                         store::CDeliveryReceipt* receipt = nullptr);
    int SendMessageOn(corvane::CMyRASSocket* socket, marlune::CMessageBase& message) override;
    int SendMessageToUser(std::string_view userId, marlune::CMessageBase& message, store::CDeliveryReceipt* receipt = nullptr) override;
    const std::vector<std::unique_ptr<corvane::CMyRASSocket>>& Connections() const override { return connections; }
    // The index of bindings (every bound user with its connections).
    const CUserConnections& BoundUsers() const { return bound_; }

    bool DeliverTransFile(marlune::CMessageBase* message, store::CDeliveryReceipt* receipt = nullptr);
    bool DeliverTalking(marlune::CMessageBase* message, store::CDeliveryReceipt* receipt = nullptr);

    // What a delivery to a user meets (CDeliveryTarget).
    UserLinks LinksOf(std::string_view userId) const override;

    // The user at address (CServerRegistry::FindTalker).
    marlune::CTalker* FindTalker(std::string_view address) const { return registry_.FindTalker(address); }

    // Installs the function run after handlers changed users or servers (the
    // directory save). Null removes it.
    void SetConfigHook(std::function<void()> hook);
    // Runs the installed hook, if any; an exception from it is logged.
    void RunConfigHook();
    // Deletes every neighbour and route server record.
    void ClearServerLists();

    // Sets where messages not handled at arrival are stored. Without a store
    // such a message is logged as not stored and dropped.
    void SetMsgStore(MsgStore store);

    // Copies what the delivery worker needs for one cycle.
    store::CServiceSnapshot TakeSnapshot() const override;
    corvane::CEventLoop& ServiceLoop() const override { return Loop(); }

    // A closed connection: its user goes offline (CLoginHandler).
    void OnWsDisconnected(corvane::ON_WS_DISCONNECTED* para) override;
    // Counts the accepted connection, then adds it.
    int AddNewClientSocket(corvane::CMyRASSocket* socket) override;

    // Starts sending this server, with its users, to every route server
    // (CServerFederation); returns without waiting for them.
    void AnnounceToRouteServers();

    // Files a message not handled at once in the store: the parsed message
    // for its addresses and its bytes. Logs the outcome; true when stored.
    bool StoreUnhandled(const marlune::CMessageBase& message, const std::uint8_t* data, std::uint32_t length);

    // Services for the handler classes.
    scrivlet::CLog4c& Log() const { return log_; }
    // The service's bounds; the defaults until SetLimits, which also hands
    // the connection bounds to the listening server.
    const CServiceLimits& Limits() const { return limits_; }
    // Also starts the costly-request budgets afresh.
    void SetLimits(const CServiceLimits& limits);
    // What the service counts (CServiceCounters): its own until the owner
    // gives it the program's, which outlives the service.
    CServiceCounters& Counters() const { return *counters_; }
    const std::shared_ptr<CServiceCounters>& SharedCounters() const { return counters_; }
    void SetCounters(std::shared_ptr<CServiceCounters> counters) { counters_ = std::move(counters); }

private:
    // The two dispatch tables: at arrival (with the connection it came on)
    // and at delivery time (with the receipt of the delivery).
    void BuildArrivalTable();
    void BuildDeliveryTable();
    // Whether a request that arrived on socket may be handled: registrations,
    // announcements and queries are admitted within the budgets of their
    // connection and address (CRequestBudget); the rest always. A refusal is
    // logged at most once a minute per bucket kind and address.
    // An announcement costs one more token per kUsersPerToken users it keeps.
    bool WithinBudget(marlune::CMessageBase& message, corvane::CMyRASSocket* socket);
    // The same before the payload is parsed, for a costly request whose
    // connection or address has not a token left: true when it was refused
    // (and counted as received). Requests it cannot tell are parsed.
    bool RefusedBeforeParse(const std::uint8_t* data, std::uint32_t length, corvane::CMyRASSocket* socket);
    // Counts and logs a request of `type` refused by `verdict`.
    void Refuse(CRequestBudget::Verdict verdict, const std::string& address, std::string_view type,
                CRequestBudget::Clock::time_point now);
    // Charges a list or profile answer's size to its connection's budget.
    void ChargeAnswer(const marlune::CMessageBase& message, const corvane::CMyRASSocket* socket);
    void ForwardUnparsed(const marlune::CMessageBase& head, const std::uint8_t* data, std::uint32_t length);
    // Hands a large payload to the parse thread and holds its connection's
    // frames; false when the parse thread has no room for it.
    bool ParseElsewhere(const std::uint8_t* data, std::uint32_t length, corvane::CMyRASSocket& socket);
    // A payload parsed on the parse thread is back: handled when its
    // connection is still open, then the connection's frames resume.
    void OnParsedElsewhere(CParsedFrame& parsed, std::uint64_t serial);
    // Handles, stores or forwards a parsed payload; `data` is its bytes.
    void Dispatch(CParsedFrame& parsed, const std::uint8_t* data, std::uint32_t length,
                  corvane::CMyRASSocket* socket);
    // The connection with that serial number, or null.
    corvane::CMyRASSocket* FindConnection(std::uint64_t serial) const;

    // The message HandleMsg is handling at arrival, and the payload it came
    // in when that is in the message library's own layout (else empty): a
    // relay of it passes the payload on with this server's routed entry
    // spliced in (CXmlMsg::BuildRelayed), the bytes a build would give.
    struct Arrival {
        const marlune::CMessageBase* message = nullptr;
        std::string_view payload;
    };

    scrivlet::CLog4c& log_;
    std::function<void()> configHook;
    CServiceLimits limits_;
    CRequestBudget budget_{limits_.costlyRequestsPerConnection, limits_.costlyRequestsPerAddress};
    corvane::CLogThrottle budgetLines_;
    std::shared_ptr<CServiceCounters> counters_ = std::make_shared<CServiceCounters>();
    CUserConnections bound_;
    MsgStore store_;
    CServerRegistry registry_{log_, localServer, neighbors, routeServers};
    CHandlerContext context_;
    std::unique_ptr<CQueryHandler> query_;
    std::unique_ptr<CStatusHandler> status_;
    std::unique_ptr<CLoginHandler> login_;
    std::unique_ptr<CRegistrationHandler> registration_;
    std::unique_ptr<CServerFederation> federation_;
    CDispatchTable<corvane::CMyRASSocket*> arrival_;
    CDispatchTable<store::CDeliveryReceipt*> delivery_;
    Arrival arriving_;
    std::unique_ptr<CParseThread> parser_;
};

} // namespace quorvel::service
