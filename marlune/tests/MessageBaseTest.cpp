#include "marlune/CMessageBase.h"
#include "marlune/CMessageUserLogin.h"

#include <gtest/gtest.h>

using marlune::CMessageBase;
using marlune::CMessageUserLogin;
using marlune::CTalker;
using marlune::CTalkerServer;

TEST(MessageBase, AddressesSplitAtTheFirstAt)
{
    struct Case {
        const char* address;
        const char* user;
        const char* server;
    };
    const Case cases[] = {
        {"a@b", "a", "b"}, {"a", "a", ""},     {"@b", "", "b"},
        {"a@", "a", ""},   {"a@b@c", "a", "b@c"}, {"", "", ""},
    };
    for (const Case& c : cases) {
        CMessageBase msg;
        msg.target = c.address;
        msg.source = c.address;
        EXPECT_EQ(msg.DetachTargetUserId(), c.user) << c.address;
        EXPECT_EQ(msg.DetachTargetServerName(), c.server) << c.address;
        EXPECT_EQ(msg.DetachSourceUserId(), c.user) << c.address;
        EXPECT_EQ(msg.DetachSourceServerName(), c.server) << c.address;
    }
    CMessageBase msg;
    msg.source = "alice@hub";
    msg.target = "bob@edge";
    EXPECT_EQ(msg.DetachSourceServerName(), "hub");
    EXPECT_EQ(msg.DetachTargetServerName(), "edge");
}

TEST(MessageBase, ConstructionFromNullOrFromAMessage)
{
    const CMessageBase empty(nullptr);
    EXPECT_TRUE(empty.type.empty());
    EXPECT_TRUE(empty.routedServers.empty());
    EXPECT_EQ(empty.route, 0);

    CMessageUserLogin login;
    login.time = "2026-12-07 21:30:00";
    login.source = "alice@hub";
    login.target = "bob@hub";
    login.memo = "备注";
    login.route = 1;
    login.userId = "alice";
    CTalkerServer hub;
    hub.name = "hub";
    login.AddRoutedServer(hub);

    const CMessageBase copy(&login);
    EXPECT_EQ(copy.type, "user-login");
    EXPECT_EQ(copy.time, login.time);
    EXPECT_EQ(copy.source, "alice@hub");
    EXPECT_EQ(copy.target, "bob@hub");
    EXPECT_EQ(copy.memo, "备注");
    EXPECT_EQ(copy.route, 1);
    ASSERT_EQ(copy.routedServers.size(), 1u);
    EXPECT_EQ(copy.routedServers[0].name, "hub");
}

TEST(MessageBase, RoutedListTakesServerNamesWithoutUsers)
{
    CTalkerServer hub;
    hub.name = "hub";
    hub.ip = "127.0.0.1";
    hub.port = "8801";
    hub.AddTalker(CTalker{});
    CTalkerServer edge;
    edge.name = "edge";

    CMessageBase msg;
    EXPECT_EQ(msg.GetRouteServerByName("hub"), nullptr);
    msg.AddRoutedServer(hub);
    msg.AddRoutedServer(edge);

    const CTalkerServer* found = msg.GetRouteServerByName("hub");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->ip, "127.0.0.1");
    EXPECT_EQ(found->port, "8801");
    EXPECT_TRUE(found->Talkers().empty());
    EXPECT_EQ(msg.GetRouteServerByName("edge"), &msg.routedServers[1]);
    EXPECT_EQ(msg.GetRouteServerByName("Hub"), nullptr);
    EXPECT_EQ(msg.GetRouteServerByName(""), nullptr);
}
