#include "ServiceTestSupport.h"
#include "quorvel_test_support/TempFolder.h"

#include "marlune/Marlune.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using marlune::BX_DATA;
using marlune::CMessageHeart;
using marlune::CMessageTransFile;
using marlune::CMessageUserLogin;
using marlune::CMessageUserReg;
using marlune::CMessageUserTalking;
using marlune::CTalkerServer;
using marlune::CXmlMsg;
using quorvel::service::CChatServer;
using quorvel::testsupport::TempFolder;

namespace {

CMessageUserTalking Talking(const std::string& source, const std::string& target, const std::string& text)
{
    CMessageUserTalking talking;
    talking.type = CMessageUserTalking::kType;
    talking.source = source;
    talking.target = target;
    talking.text = text;
    return talking;
}

CMessageTransFile TransFile(const std::string& target)
{
    CMessageTransFile file;
    file.type = CMessageTransFile::kType;
    file.source = "alice@hub";
    file.target = target;
    file.file = "a.txt";
    file.data = "QUJD";
    return file;
}

CTalkerServer RoutedEntry(const std::string& name)
{
    CTalkerServer server;
    server.name = name;
    return server;
}

class ChatServerIntake : public ::testing::Test {
protected:
    ChatServerIntake()
    {
        fixture.AddUser("alice", "a-pw");
        fixture.AddUser("bob", "b-pw");
    }
    ServiceFixture fixture;
};

} // namespace

TEST_F(ChatServerIntake, HeartbeatIsLoggedOnceAndGetsNoReply)
{
    TestClient client(fixture.Port());
    CMessageHeart heart;
    heart.type = CMessageHeart::kType;
    heart.sender = "client-7";
    // A heartbeat is logged even when it names this server as passed.
    heart.routedServers.push_back(RoutedEntry("hub"));
    ASSERT_TRUE(client.Send(heart));

    auto before = client.Sync();
    ASSERT_TRUE(before);
    EXPECT_TRUE(before->empty());
    EXPECT_EQ(ServiceLogLines::Count("接收到一个心跳包,来自:client-7"), 1);
    EXPECT_TRUE(fixture.Stored().empty());
}

TEST_F(ChatServerIntake, FieldsFromTheNetworkCannotForgeLogLines)
{
    TempFolder folder;
    fixture.Log().InitInstance(folder.Path().string());
    TestClient client(fixture.Port());
    const std::string forged = "eve\r\n[2026-12-08 01:00:00] INFOR 用户 alice 以密码 ------ 登录成功\x1b[2J";
    ASSERT_EQ(client.Login(forged, "x"), "failed");
    fixture.Log().SaveToFile();

    const std::string escaped = "用户 eve\\r\\n[2026-12-08 01:00:00] INFOR 用户 alice 以密码 ------ 登录成功\\x1b[2J 以密码";
    std::string file;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
        file += TempFolder::Read(entry.path());
    std::vector<std::string> fileLines;
    for (std::size_t start = 0, end; (end = file.find("\r\n", start)) != std::string::npos; start = end + 2)
        fileLines.push_back(file.substr(start, end + 2 - start));
    for (const std::vector<std::string>& lines : {ServiceLogLines::All(), fileLines}) {
        int forgedLines = 0;
        for (std::string line : lines) {
            if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
                line.resize(line.size() - 2);
            EXPECT_EQ(line.find_first_of("\r\n\x1b"), std::string::npos) << line;
            forgedLines += line.find(escaped) != std::string::npos ? 1 : 0;
        }
        EXPECT_EQ(forgedLines, 1);
    }
}

TEST_F(ChatServerIntake, MessageAlreadyRoutedHereIsDroppedWhateverItsType)
{
    TestClient client(fixture.Port());
    CMessageUserLogin login;
    login.type = CMessageUserLogin::kType;
    login.userId = "alice";
    login.password = "a-pw";
    login.routedServers.push_back(RoutedEntry("elsewhere"));
    login.routedServers.push_back(RoutedEntry("hub"));
    ASSERT_TRUE(client.Send(login));
    CMessageUserTalking talking = Talking("alice@hub", "bob@hub", "hi");
    talking.routedServers.push_back(RoutedEntry("hub"));
    ASSERT_TRUE(client.Send(talking));

    auto before = client.Sync();
    ASSERT_TRUE(before);
    EXPECT_TRUE(before->empty());
    EXPECT_TRUE(fixture.Stored().empty());
    EXPECT_TRUE(fixture.OnLoop([](CChatServer& service) { return service.TakeSnapshot().loggedIn.empty(); }));
}

TEST_F(ChatServerIntake, UnparsableFrameReachesEveryConnectionOfTheLocalUserByteForByte)
{
    TestClient bob1(fixture.Port());
    TestClient bob2(fixture.Port());
    ASSERT_EQ(bob1.Login("bob", "b-pw"), "success");
    ASSERT_EQ(bob2.Login("bob", "b-pw"), "success");
    TestClient sender(fixture.Port());

    const std::string local = "<msg type=\"x-future\" source=\"alice@hub\" target=\"bob@hub\"><body  a='1'/></msg>";
    const std::string bare = "<msg type=\"x-future\" target=\"bob\"><body/></msg>";
    const std::string remote = "<msg type=\"x-future\" target=\"bob@elsewhere\"><body/></msg>";
    ASSERT_TRUE(sender.SendFrame(local));
    ASSERT_TRUE(sender.SendFrame(bare));
    ASSERT_TRUE(sender.SendFrame(remote));
    ASSERT_TRUE(sender.Sync());

    for (TestClient* bob : {&bob1, &bob2}) {
        auto before = bob->Sync();
        ASSERT_TRUE(before);
        ASSERT_EQ(before->size(), 2u);
        EXPECT_EQ((*before)[0], local);
        EXPECT_EQ((*before)[1], bare);
    }
    EXPECT_EQ(ServiceLogLines::Count("未知版本消息,已转发:x-future"), 2);
    EXPECT_TRUE(fixture.Stored().empty());
}

TEST_F(ChatServerIntake, MalformedFrameIsLoggedAndDropped)
{
    TestClient client(fixture.Port());
    ASSERT_TRUE(client.SendFrame("<msg type=\"user-talking\" target=\"bob@hub\">"));
    auto before = client.Sync();
    ASSERT_TRUE(before);
    EXPECT_TRUE(before->empty());
    EXPECT_EQ(ServiceLogLines::Count("无法解析的消息已丢弃"), 1);
}

TEST_F(ChatServerIntake, ChatMessageIsStoredAsReceived)
{
    TestClient client(fixture.Port());
    CMessageUserTalking talking = Talking("alice@hub", "bob@hub", "  hello  ");
    BX_DATA bx(&talking);
    CXmlMsg codec;
    ASSERT_GT(codec.BuildXml(&bx), 0u);
    ASSERT_TRUE(client.SendFrame(bx.buff));
    ASSERT_TRUE(client.Sync());

    auto stored = fixture.Stored();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].type, "user-talking");
    EXPECT_EQ(stored[0].target, "bob@hub");
    EXPECT_EQ(stored[0].bytes, bx.buff);
    EXPECT_EQ(ServiceLogLines::Count("非即时处理消息:user-talking 已经加入消息队列处理...."), 1);
    EXPECT_EQ(ServiceLogLines::Count("非即时消息已放入消息队列处理...user-talking source:alice@hub target:bob@hub"), 1);
}

TEST_F(ChatServerIntake, WithoutStoreAnUnhandledMessageIsLoggedAsNotStored)
{
    fixture.RemoveStore();
    TestClient client(fixture.Port());
    CMessageUserTalking talking = Talking("alice@hub", "bob@hub", "lost");
    ASSERT_TRUE(client.Send(talking));
    ASSERT_TRUE(client.Sync());
    EXPECT_EQ(ServiceLogLines::Count("没有消息存储,非即时消息未保存:user-talking"), 1);
    EXPECT_EQ(ServiceLogLines::Count("非即时消息已放入消息队列处理"), 0);
}

TEST_F(ChatServerIntake, TransFileGoesToEveryConnectionOrIsStored)
{
    TestClient bob1(fixture.Port());
    TestClient bob2(fixture.Port());
    ASSERT_EQ(bob1.Login("bob", "b-pw"), "success");
    ASSERT_EQ(bob2.Login("bob", "b-pw"), "success");
    TestClient sender(fixture.Port());

    CMessageTransFile toBob = TransFile("bob@hub");
    CMessageTransFile toBare = TransFile("bob");
    CMessageTransFile toAlice = TransFile("alice@hub");
    CMessageTransFile toRemote = TransFile("zed@elsewhere");
    for (CMessageTransFile* file : {&toBob, &toBare, &toAlice, &toRemote})
        ASSERT_TRUE(sender.Send(*file));
    ASSERT_TRUE(sender.Sync());

    for (TestClient* bob : {&bob1, &bob2}) {
        auto before = bob->Sync();
        ASSERT_TRUE(before);
        ASSERT_EQ(before->size(), 2u);
        for (const auto& payload : *before) {
            auto message = Parse(payload);
            ASSERT_TRUE(message);
            EXPECT_EQ(message->type, "trans-file");
            // The delivered copy names this server as passed.
            EXPECT_NE(message->GetRouteServerByName("hub"), nullptr);
        }
    }
    auto stored = fixture.Stored();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].target, "alice@hub");
    EXPECT_EQ(stored[1].target, "zed@elsewhere");
    EXPECT_EQ(ServiceLogLines::Count("target:elsewhere local:hub 该消息被加入路由消息队列."), 1);
}

TEST_F(ChatServerIntake, RelayedFileIsTheBuildOfTheMessageWithThisServerAdded)
{
    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");
    TestClient sender(fixture.Port());

    // In the library's own layout, with and without a routed list and with
    // Chinese texts; then a payload in another layout (no declaration,
    // other blanks), which the relay builds afresh.
    CMessageTransFile plain = TransFile("bob@hub");
    CMessageTransFile passed = TransFile("bob@hub");
    passed.AddRoutedServer(RoutedEntry("edge"));
    passed.AddRoutedServer(RoutedEntry("中转"));
    CMessageTransFile chinese = TransFile("bob@hub");
    chinese.file = "报告.pdf";
    std::vector<std::string> expected;
    for (CMessageTransFile* file : {&plain, &passed, &chinese}) {
        ASSERT_TRUE(sender.Send(*file));
        CMessageTransFile relayed = *file;
        relayed.AddRoutedServer(RoutedEntry("hub"));
        expected.push_back(CXmlMsg().BuildBytes(relayed));
    }
    ASSERT_TRUE(sender.SendFrame("<msg type='trans-file' source='alice@hub' target='bob@hub'>"
                                 "<body  file='x'>QUJD</body></msg>"));
    CMessageTransFile other = TransFile("bob@hub");
    other.file = "x";
    other.AddRoutedServer(RoutedEntry("hub"));
    expected.push_back(CXmlMsg().BuildBytes(other));
    ASSERT_TRUE(sender.Sync());

    auto received = bob.Sync();
    ASSERT_TRUE(received);
    EXPECT_EQ(*received, expected);
}

TEST_F(ChatServerIntake, StoredMessagesAreDispatchedByType)
{
    TestClient bob(fixture.Port());
    ASSERT_EQ(bob.Login("bob", "b-pw"), "success");

    EXPECT_TRUE(fixture.OnLoop([](CChatServer& service) {
        CMessageUserTalking talking = Talking("alice@hub", "bob@hub", "stored");
        return service.HandleMsgCache(&talking);
    }));
    auto delivered = bob.ReceiveAs<CMessageUserTalking>();
    ASSERT_TRUE(delivered);
    EXPECT_EQ(delivered->text, "stored");

    // Not connected, no server part, another server, unknown to this table.
    EXPECT_FALSE(fixture.OnLoop([](CChatServer& service) {
        CMessageUserTalking talking = Talking("bob@hub", "alice@hub", "x");
        return service.HandleMsgCache(&talking);
    }));
    EXPECT_FALSE(fixture.OnLoop([](CChatServer& service) {
        CMessageUserTalking talking = Talking("alice@hub", "bob", "x");
        return service.HandleMsgCache(&talking);
    }));
    EXPECT_FALSE(fixture.OnLoop([](CChatServer& service) {
        CMessageUserTalking talking = Talking("alice@hub", "bob@elsewhere", "x");
        const bool result = service.HandleMsgCache(&talking);
        return result || talking.route != 1;
    }));
    EXPECT_FALSE(fixture.OnLoop([](CChatServer& service) {
        CMessageUserReg reg;
        reg.type = CMessageUserReg::kType;
        reg.target = "bob@hub";
        return service.HandleMsgCache(&reg);
    }));
    EXPECT_TRUE(fixture.OnLoop([](CChatServer& service) { return service.HandleMsgCache(nullptr); }));
    auto before = bob.Sync();
    ASSERT_TRUE(before);
    EXPECT_TRUE(before->empty());
}

TEST_F(ChatServerIntake, FindTalkerLooksAtThisServerFirstThenNeighboursByName)
{
    fixture.AddNeighbor("far", {MakeTalker("alice", "far", "Far Alice"), MakeTalker("nina", "far")});
    fixture.AddNeighbor("near", {MakeTalker("nina", "near", "Near Nina")});

    EXPECT_EQ(fixture.Find("alice")->serverName, "hub");
    EXPECT_EQ(fixture.Find("alice@hub")->serverName, "hub");
    EXPECT_EQ(fixture.Find("alice@far")->name, "Far Alice");
    EXPECT_EQ(fixture.Find("nina")->serverName, "far");
    EXPECT_EQ(fixture.Find("nina@near")->name, "Near Nina");
    EXPECT_FALSE(fixture.Find("nina@hub"));
    EXPECT_FALSE(fixture.Find("alice@nowhere"));
    EXPECT_FALSE(fixture.Find("Alice"));
}

TEST_F(ChatServerIntake, SnapshotListsEachBoundUserOnceAndTheRouteServers)
{
    TestClient alice1(fixture.Port());
    TestClient alice2(fixture.Port());
    TestClient stranger(fixture.Port());
    ASSERT_EQ(alice1.Login("alice", "a-pw"), "success");
    ASSERT_EQ(alice2.Login("alice", "a-pw"), "success");
    ASSERT_TRUE(stranger.Sync());

    auto snapshot = fixture.OnLoop([](CChatServer& service) {
        auto route = std::make_unique<CTalkerServer>();
        route->name = "router";
        route->ip = "127.0.0.1";
        route->port = "8801";
        route->AddTalker(MakeTalker("x", "router"));
        service.routeServers.push_back(std::move(route));
        return service.TakeSnapshot();
    });
    EXPECT_EQ(snapshot.localName, "hub");
    ASSERT_EQ(snapshot.loggedIn.size(), 1u);
    EXPECT_EQ(snapshot.loggedIn[0].userId, "alice");
    EXPECT_EQ(snapshot.loggedIn[0].serverName, "hub");
    ASSERT_EQ(snapshot.routeServers.size(), 1u);
    EXPECT_EQ(snapshot.routeServers[0].port, "8801");
    EXPECT_TRUE(snapshot.routeServers[0].Talkers().empty());
}
