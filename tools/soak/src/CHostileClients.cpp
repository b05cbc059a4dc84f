#include "CHostileClients.h"

#include "CRandomMessage.h"
#include "CRawConnection.h"
#include "SoakXml.h"

#include "corvane/CFrame.h"
#include "marlune/Marlune.h"

#include <random>

namespace quorvel::soak {

using corvane::CFrame;
using marlune::CMessageUserFriend;
using marlune::CMessageUserInfor;
using marlune::CMessageUserList;
using marlune::CMessageUserReg;
using marlune::CMessageUserTalking;

namespace {

using namespace std::chrono_literals;

} // namespace

CHostileClients::CHostileClients(int port, std::vector<std::string> victims, std::vector<std::string> slowUsers,
                                 std::string xmlUser, int pace)
    : CAttackCrew(pace), port_(port), victims_(std::move(victims)), slowUsers_(std::move(slowUsers)),
      xmlUser_(std::move(xmlUser))
{
}

CHostileClients::~CHostileClients()
{
    Stop();
}

void CHostileClients::Start(std::chrono::steady_clock::time_point deadline)
{
    StartClock(deadline);
    for (auto behaviour : {&CHostileClients::Churn, &CHostileClients::RandomBytes, &CHostileClients::BadHeaders,
                           &CHostileClients::UnfinishedFrame, &CHostileClients::RandomXml,
                           &CHostileClients::HeartbeatFlood, &CHostileClients::WrongPasswords,
                           &CHostileClients::LongIds})
        Launch([this, behaviour] { (this->*behaviour)(); });
    for (const auto& user : slowUsers_)
        Launch([this, user] { SlowReader(user); });
}

bool CHostileClients::Connect(CRawConnection& connection, int receiveBuffer)
{
    if (!connection.Connect(port_, receiveBuffer)) {
        figures_.failedConnects.fetch_add(1);
        Pause(10ms);
        return false;
    }
    figures_.connections.fetch_add(1);
    return true;
}

bool CHostileClients::Frame(CRawConnection& connection, const std::string& payload)
{
    if (!connection.SendFrame(payload))
        return false;
    figures_.frames.fetch_add(1);
    figures_.bytes.fetch_add(payload.size() + CFrame::kHeaderSize);
    return true;
}

void CHostileClients::Closed(CRawConnection& connection)
{
    figures_.closedByServer.fetch_add(1);
    connection.Close();
}

bool CHostileClients::Login(CRawConnection& connection, const std::string& user, const std::string& password)
{
    return Frame(connection, LoginXml(user, password, "online", false));
}

// Thousands of connections opened and dropped, most with a reset.
void CHostileClients::Churn()
{
    for (int i = 0; Running(); ++i) {
        CRawConnection connection;
        if (Connect(connection))
            connection.Close(i % 8 != 0);
        if (i % 20 == 19)
            Pause(50ms);
    }
}

void CHostileClients::RandomBytes()
{
    std::mt19937 engine(1);
    while (Running()) {
        CRawConnection connection;
        if (!Connect(connection))
            continue;
        std::string bytes(engine() % 8192 + 1, '\0');
        for (char& c : bytes)
            c = static_cast<char>(engine());
        if (engine() % 2 == 0)
            bytes.replace(0, std::min<std::size_t>(8, bytes.size()), "RAS_DATA");
        if (connection.Send(bytes))
            figures_.bytes.fetch_add(bytes.size());
        Pause(5ms);
        connection.Close(engine() % 2 == 0);
    }
}

// Wrong flags, length 0, a flag without its terminating zero, the largest
// length a header can say; each on a new connection, which the server ends.
void CHostileClients::BadHeaders()
{
    const std::string heart = HeartXml();
    std::vector<std::string> heads;
    std::string wrongFlag = CRawConnection::Header(static_cast<std::uint32_t>(heart.size()));
    wrongFlag[7] = 'X';
    heads.push_back(wrongFlag + heart);
    heads.push_back(CRawConnection::Header(0) + heart);
    std::string unterminated = CRawConnection::Header(static_cast<std::uint32_t>(heart.size()));
    unterminated[8] = '!';
    heads.push_back(unterminated + heart);
    heads.push_back(CRawConnection::Header(0xffffffffu) + heart);
    heads.push_back(CRawConnection::Header(CFrame::kMaxPayload + 1) + heart);
    for (std::size_t i = 0; Running(); ++i) {
        CRawConnection connection;
        if (!Connect(connection))
            continue;
        Frame(connection, heart);
        if (connection.Send(heads[i % heads.size()]))
            figures_.bytes.fetch_add(heads[i % heads.size()].size());
        Pause(20ms);
        if (!connection.Drain())
            Closed(connection);
    }
}

// A frame that says 16 MiB and never ends: all but its last byte, held for
// a few seconds, then dropped.
void CHostileClients::UnfinishedFrame()
{
    while (Running()) {
        CRawConnection connection;
        if (!Connect(connection))
            continue;
        if (connection.SendPartOfFrame(CFrame::kMaxPayload, CFrame::kMaxPayload - 1))
            figures_.bytes.fetch_add(CFrame::kHeaderSize + CFrame::kMaxPayload - 1);
        for (int i = 0; i < 30 && Running(); ++i)
            Pause(100ms);
        if (!connection.Drain())
            Closed(connection);
    }
}

// Random valid XML of every type with random fields, half of the
// connections logged in first.
void CHostileClients::RandomXml()
{
    std::vector<std::string> known = victims_;
    known.push_back(xmlUser_);
    CRandomMessage random(7, known);
    for (int round = 0; Running(); ++round) {
        CRawConnection connection;
        if (!Connect(connection))
            continue;
        if (round % 2 == 0)
            Login(connection, xmlUser_, "pw-" + xmlUser_);
        for (int i = 0; i < 50 && Running(); ++i) {
            const std::string payload = random.Next();
            if (!payload.empty() && !Frame(connection, payload))
                break;
            if (!connection.Drain()) {
                Closed(connection);
                break;
            }
            Pause(5ms);
        }
    }
}

void CHostileClients::HeartbeatFlood()
{
    const std::string heart = HeartXml();
    while (Running()) {
        CRawConnection connection;
        if (!Connect(connection))
            continue;
        while (Running()) {
            for (int i = 0; i < 100; ++i) {
                if (!Frame(connection, heart))
                    break;
            }
            if (!connection.Drain()) {
                Closed(connection);
                break;
            }
            Pause(50ms);
        }
    }
}

// Logins as real users with wrong passwords, forced or not; the real users'
// sessions must not notice.
void CHostileClients::WrongPasswords()
{
    for (std::size_t i = 0; Running(); ++i) {
        CRawConnection connection;
        if (!Connect(connection))
            continue;
        const std::string& victim = victims_[i % victims_.size()];
        for (int k = 0; k < 10; ++k)
            Frame(connection, LoginXml(victim, "wrong" + std::to_string(k), "online", k % 2 == 0));
        Pause(20ms);
        connection.Drain();
    }
}

// Ids and addresses of 10,000 characters in logins, registrations, chat,
// friend requests and queries.
void CHostileClients::LongIds()
{
    const std::string id(10000, 'L');
    CMessageUserReg reg;
    reg.type = CMessageUserReg::kType;
    reg.userId = id;
    reg.password = "x";
    CMessageUserTalking talking;
    talking.type = CMessageUserTalking::kType;
    talking.source = id + "@hub";
    talking.target = id + "@" + id;
    talking.text = "long";
    CMessageUserFriend request;
    request.type = CMessageUserFriend::kType;
    request.source = id + "@hub";
    request.target = victims_.front() + "@hub";
    CMessageUserInfor infor;
    infor.type = CMessageUserInfor::kType;
    infor.source = id;
    infor.target = id + "@hub";
    infor.user = id;
    const std::vector<std::string> payloads = {LoginXml(id, id, "online", true), BuildXml(reg), BuildXml(talking), BuildXml(request),
                                               BuildXml(infor)};
    while (Running()) {
        CRawConnection connection;
        if (!Connect(connection))
            continue;
        for (const auto& payload : payloads)
            Frame(connection, payload);
        Pause(50ms);
        if (!connection.Drain())
            Closed(connection);
    }
}

// Logs in with a tiny receive buffer and asks for lists and profiles
// without ever reading the answers, until the server gives up on it; then
// does it again.
void CHostileClients::SlowReader(const std::string& user)
{
    CMessageUserList list;
    list.type = CMessageUserList::kType;
    list.source = user + "@hub";
    list.userId = user;
    CMessageUserInfor infor;
    infor.type = CMessageUserInfor::kType;
    infor.source = user + "@hub";
    infor.target = user + "@hub";
    infor.user = user;
    const std::string requests[] = {BuildXml(list), BuildXml(infor)};
    while (Running()) {
        CRawConnection connection;
        if (!Connect(connection, 4096))
            continue;
        Frame(connection, LoginXml(user, "pw-" + user, "online", true));
        for (int i = 0; Running(); ++i) {
            if (!Frame(connection, requests[i % 2])) {
                Closed(connection);
                break;
            }
            if (i % 100 == 99)
                Pause(5ms);
        }
    }
}

} // namespace quorvel::soak
