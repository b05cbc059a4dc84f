#include "CCostlyFloods.h"

#include "CRawConnection.h"
#include "SoakXml.h"

#include "marlune/Marlune.h"

namespace quorvel::soak {

using marlune::CMessageHeart;
using marlune::CMessageServerPub;
using marlune::CMessageUserFriend;
using marlune::CMessageUserInfor;
using marlune::CMessageUserList;
using marlune::CMessageUserTalking;
using marlune::CTalker;
namespace message_word = marlune::message_word;

namespace {

using namespace std::chrono_literals;

// An announcement of `name` with `users` users whose fields are as long as
// a registration allows.
std::string AnnouncementXml(const std::string& name, int users)
{
    CMessageServerPub pub;
    pub.type = CMessageServerPub::kType;
    pub.server.name = name;
    pub.server.ip = "127.0.0.1";
    pub.server.port = "9";
    pub.server.description = std::string(200, 'd');
    for (int i = 0; i < users; ++i) {
        CTalker talker;
        talker.userId = "u" + std::to_string(i);
        talker.name = std::string(90, 'n');
        talker.sex = "x";
        talker.tel = std::string(30, '5');
        talker.password = std::string(60, 'p');
        talker.friends = "a@" + name + "/b@" + name;
        pub.server.AddTalker(talker);
    }
    return BuildXml(pub);
}

// Replaces every "\r\n" of built XML with character references, the form
// in which line ends survive an XML parser.
std::string Referenced(std::string xml)
{
    for (std::size_t at; (at = xml.find("\r\n")) != std::string::npos;)
        xml.replace(at, 2, "&#13;&#10;");
    return xml;
}

} // namespace

CCostlyFloods::CCostlyFloods(int port, std::vector<std::string> listUsers, std::vector<std::string> victims,
                             std::string hostileUser, int pace)
    : CAttackCrew(pace), port_(port), listUsers_(std::move(listUsers)), victims_(std::move(victims)),
      hostileUser_(std::move(hostileUser))
{
}

CCostlyFloods::~CCostlyFloods()
{
    Stop();
}

void CCostlyFloods::Start(std::chrono::steady_clock::time_point deadline)
{
    StartClock(deadline);
    Launch([this] { AnnouncementFlood(); });
    Launch([this] { FriendFlood(); });
    Launch([this] { ForgedFields(); });
    for (const auto& user : listUsers_)
        Launch([this, user] { ListAmplification(user); });
}

// Announcements of new server names, each with 12,000 users of long
// fields (about 3 MB), one after the other on one connection.
void CCostlyFloods::AnnouncementFlood()
{
    constexpr int kUsers = 12000;
    std::vector<std::string> payloads;
    for (int i = 0; i < 4; ++i)
        payloads.push_back(AnnouncementXml("flood" + std::to_string(i), kUsers));
    for (std::uint64_t round = 0; Running(); ++round) {
        CRawConnection connection;
        if (!connection.Connect(port_)) {
            Pause(50ms);
            continue;
        }
        for (int i = 0; i < 10 && Running(); ++i) {
            // A new name each time: the server must not keep them all.
            std::string payload = payloads[round % payloads.size()];
            const std::string name = "flood" + std::to_string(round % payloads.size());
            const std::size_t at = payload.find("\"" + name + "\"");
            if (at != std::string::npos)
                payload.replace(at + 1, name.size(), "f" + std::to_string(round) + "x" + std::to_string(i));
            if (!connection.SendFrame(payload) || !connection.Drain())
                break;
            figures_.announcements.fetch_add(1);
            Pause(100ms);
        }
    }
}

// Logs in with the longest status and asks for the whole user list again
// and again without reading, so each small request would cost an answer of
// every user.
void CCostlyFloods::ListAmplification(const std::string& user)
{
    CMessageUserList list;
    list.type = CMessageUserList::kType;
    list.source = user + "@hub";
    list.userId = user;
    const std::string request = BuildXml(list);
    const std::string login = LoginXml(user, "pw-" + user, std::string(4000, 's'), true);
    while (Running()) {
        CRawConnection connection;
        if (!connection.Connect(port_, 4096)) {
            Pause(50ms);
            continue;
        }
        if (!connection.SendFrame(login))
            continue;
        for (int i = 0; Running(); ++i) {
            if (!connection.SendFrame(request))
                break;
            figures_.listRequests.fetch_add(1);
            if (i % 50 == 49)
                Pause(10ms);
        }
    }
}

// Friendships offered to and accepted for the well-behaved users in the
// name of ever new users: stored, delivered and recorded by the server.
void CCostlyFloods::FriendFlood()
{
    for (std::uint64_t round = 0; Running(); ++round) {
        CRawConnection connection;
        if (!connection.Connect(port_)) {
            Pause(50ms);
            continue;
        }
        for (int i = 0; i < 100 && Running(); ++i) {
            const std::string& victim = victims_[(round + i) % victims_.size()];
            CMessageUserFriend offer;
            offer.type = CMessageUserFriend::kType;
            offer.source = hostileUser_ + "@hub";
            offer.target = victim + "@hub";
            offer.result = message_word::kSuccess;
            offer.asker.userId = "fan" + std::to_string(round) + "x" + std::to_string(i);
            offer.asker.serverName = "hub";
            offer.asked.userId = victim;
            offer.asked.serverName = "hub";
            if (!connection.SendFrame(BuildXml(offer)) || !connection.Drain())
                break;
            figures_.friendOffers.fetch_add(1);
            Pause(5ms);
        }
    }
}

// Addresses, ids and statuses with line ends and terminal escapes, raw and
// as character references, in logins, chat and queries.
void CCostlyFloods::ForgedFields()
{
    const std::string forged = std::string("x\r\n") + kForgedMark + " 2026-12-08 00:00:00 INFOR fake\x1b[2J\x1b]0;t\x07";
    CMessageUserTalking talk;
    talk.type = CMessageUserTalking::kType;
    talk.source = forged + "@hub";
    talk.target = victims_.front() + "@" + forged;
    talk.text = "forged";
    CMessageUserInfor infor;
    infor.type = CMessageUserInfor::kType;
    infor.source = forged;
    infor.user = forged;
    CMessageHeart heart;
    heart.type = CMessageHeart::kType;
    heart.sender = forged;
    const std::vector<std::string> raw = {BuildXml(talk), BuildXml(infor), BuildXml(heart), LoginXml(forged, "pw-" + forged, forged, true)};
    std::vector<std::string> payloads = raw;
    for (const auto& xml : raw)
        payloads.push_back(Referenced(xml));
    while (Running()) {
        CRawConnection connection;
        if (!connection.Connect(port_)) {
            Pause(50ms);
            continue;
        }
        for (const auto& payload : payloads) {
            if (!connection.SendFrame(payload))
                break;
            figures_.forgeries.fetch_add(1);
        }
        Pause(50ms);
        connection.Drain();
    }
}

} // namespace quorvel::soak
