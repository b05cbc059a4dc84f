#include "quorvel_client/CClientIdentity.h"
#include "quorvel_client/CRequestBuilder.h"

#include <marlune/Marlune.h>

#include <gtest/gtest.h>

using marlune::BX_DATA;
using marlune::CMessageBase;
using marlune::CMessageChangeStatu;
using marlune::CMessageHeart;
using marlune::CMessageTransFile;
using marlune::CMessageUserFriend;
using marlune::CMessageUserInfor;
using marlune::CMessageUserList;
using marlune::CMessageUserLogin;
using marlune::CMessageUserReg;
using marlune::CMessageUserTalking;
using marlune::CXmlMsg;
using quorvel::client::CClientIdentity;
using quorvel::client::CRequestBuilder;

namespace {

// What the server reads: the request built to XML and parsed back.
template <class T>
std::unique_ptr<T> OnTheWire(CMessageBase& msg)
{
    BX_DATA bx(&msg);
    CXmlMsg codec;
    EXPECT_GT(codec.BuildXml(&bx), 0u);
    EXPECT_EQ(bx.buff.find("<routed"), std::string::npos);
    auto parsed = codec.ParseXmlNew(bx.Data(), bx.Length(), nullptr);
    auto* typed = dynamic_cast<T*>(parsed.get());
    EXPECT_NE(typed, nullptr);
    parsed.release();
    return std::unique_ptr<T>(typed);
}

class RequestBuilderTest : public ::testing::Test {
protected:
    RequestBuilderTest()
    {
        me.userId = "alice";
        me.server = "hub";
    }
    CClientIdentity me;
    CRequestBuilder builder{me};
};

} // namespace

TEST(ClientIdentity, ResolvesBareUsersToTheOwnServer)
{
    CClientIdentity me;
    EXPECT_EQ(me.Address(), "");
    EXPECT_EQ(me.Resolve("bob"), "bob");
    me.userId = "alice";
    EXPECT_EQ(me.Address(), "alice");
    me.server = "hub";
    EXPECT_EQ(me.Address(), "alice@hub");
    EXPECT_EQ(me.Resolve("bob"), "bob@hub");
    EXPECT_EQ(me.Resolve("bob@far"), "bob@far");
    std::string user, server;
    CClientIdentity::Split("a@b@c", user, server);
    EXPECT_EQ(user, "a");
    EXPECT_EQ(server, "b@c");
}

TEST_F(RequestBuilderTest, LoginAndForcedLogin)
{
    auto login = OnTheWire<CMessageUserLogin>(*builder.Login("carol@hub", "pw", ""));
    EXPECT_EQ(login->type, "user-login");
    EXPECT_EQ(login->source, "carol@hub");
    EXPECT_EQ(login->userId, "carol");
    EXPECT_EQ(login->password, "pw");
    EXPECT_EQ(login->statu, "online");
    EXPECT_EQ(login->client, CRequestBuilder::kClientName);
    EXPECT_EQ(login->force, "");
    EXPECT_EQ(login->result, "");
    EXPECT_EQ(login->time.size(), 19u);

    auto forced = OnTheWire<CMessageUserLogin>(*builder.ForceLogin("dave", "Dave", "pw", "busy"));
    EXPECT_EQ(forced->userId, "dave");
    EXPECT_EQ(forced->name, "Dave");
    EXPECT_EQ(forced->statu, "busy");
    EXPECT_EQ(forced->force, "true");
}

TEST_F(RequestBuilderTest, RegistrationAndChange)
{
    auto reg = OnTheWire<CMessageUserReg>(*builder.Register("erin", "Erin", "F", "pw", "555", false));
    EXPECT_EQ(reg->userId, "erin");
    EXPECT_EQ(reg->name, "Erin");
    EXPECT_EQ(reg->sex, "F");
    EXPECT_EQ(reg->password, "pw");
    EXPECT_EQ(reg->tel, "555");
    EXPECT_EQ(reg->modify, "");
    auto change = OnTheWire<CMessageUserReg>(*builder.Register("alice", "A", "F", "pw", "1", true));
    EXPECT_EQ(change->modify, "true");
    EXPECT_EQ(change->source, "alice@hub");
}

TEST_F(RequestBuilderTest, StatusTalkInfoAndLists)
{
    auto statu = OnTheWire<CMessageChangeStatu>(*builder.Status("away"));
    EXPECT_EQ(statu->userId, "alice");
    EXPECT_EQ(statu->server, "hub");
    EXPECT_EQ(statu->statu, "away");

    auto talk = OnTheWire<CMessageUserTalking>(*builder.Talk("bob@hub", "  two  spaces\nand a line "));
    EXPECT_EQ(talk->source, "alice@hub");
    EXPECT_EQ(talk->target, "bob@hub");
    EXPECT_EQ(talk->text, "  two  spaces\nand a line ");

    auto info = OnTheWire<CMessageUserInfor>(*builder.Infor("bob"));
    EXPECT_EQ(info->user, "bob");

    auto list = OnTheWire<CMessageUserList>(*builder.List("Bo", false));
    EXPECT_EQ(list->userId, "alice");
    EXPECT_EQ(list->filter, "Bo");
    EXPECT_EQ(list->online, "");
    EXPECT_EQ(OnTheWire<CMessageUserList>(*builder.List("", true))->online, "true");

    EXPECT_EQ(OnTheWire<CMessageHeart>(*builder.Heart())->sender, "alice@hub");
}

TEST_F(RequestBuilderTest, FriendRequestAndAcceptance)
{
    auto request = OnTheWire<CMessageUserFriend>(*builder.FriendRequest("bob@far", "hi"));
    EXPECT_EQ(request->target, "bob@far");
    EXPECT_EQ(request->result, "");
    EXPECT_EQ(request->text, "hi");
    EXPECT_EQ(request->asker.userId, "alice");
    EXPECT_EQ(request->asker.serverName, "hub");
    EXPECT_EQ(request->asked.userId, "bob");
    EXPECT_EQ(request->asked.serverName, "far");

    // Bob accepts what he received; the received copy went through servers,
    // the acceptance must start with an empty routed list again.
    CMessageUserFriend received = *request;
    received.routedServers.emplace_back().name = "hub";
    received.routedServers.emplace_back().name = "far";
    CClientIdentity bob;
    bob.userId = "bob";
    bob.server = "far";
    auto accept = OnTheWire<CMessageUserFriend>(*CRequestBuilder(bob).FriendAccept(received));
    EXPECT_EQ(accept->source, "bob@far");
    EXPECT_EQ(accept->target, "alice@hub");
    EXPECT_EQ(accept->result, "success");
    EXPECT_EQ(accept->asker.userId, "alice");
    EXPECT_EQ(accept->asked.serverName, "far");
    EXPECT_TRUE(accept->routedServers.empty());
}

TEST_F(RequestBuilderTest, FileChunk)
{
    auto chunk = OnTheWire<CMessageTransFile>(*builder.FileChunk("bob@hub", "a.txt", 10, 4, "end", "QUJD"));
    EXPECT_EQ(chunk->file, "a.txt");
    EXPECT_EQ(chunk->size, "10");
    EXPECT_EQ(chunk->offset, "4");
    EXPECT_EQ(chunk->action, "end");
    EXPECT_EQ(chunk->data, "QUJD");
}
