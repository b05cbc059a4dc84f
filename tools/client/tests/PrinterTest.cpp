#include "TestText.h"

#include "quorvel_client/CMessagePrinter.h"

#include <marlune/Marlune.h>

#include <gtest/gtest.h>

using marlune::CMessageBase;
using marlune::CMessageTransFile;
using marlune::CMessageUserFriend;
using marlune::CMessageUserInfor;
using marlune::CMessageUserList;
using marlune::CMessageUserLogin;
using marlune::CMessageUserTalking;
using marlune::CTalker;
using marlune::CXmlMsg;
using quorvel::client::CMessagePrinter;

TEST(MessagePrinter, JsonEscapesEveryCharacterItMustAndStaysOneLine)
{
    CMessageUserTalking talk;
    talk.source = "a\"b\\c";
    talk.text = CXmlMsg::u2gb(Utf8(u8"l1\nl2\r\t\x01 你好/é"));
    const std::string json = CMessagePrinter::Json(talk);
    EXPECT_EQ(json.find('\n'), std::string::npos);
    EXPECT_NE(json.find(R"("source":"a\"b\\c")"), std::string::npos) << json;
    EXPECT_NE(json.find(Utf8(u8R"("content":"l1\nl2\r\t\u0001 你好/é")")), std::string::npos) << json;
    // A reason that is not UTF-8 still gives a whole line.
    EXPECT_EQ(CMessagePrinter::UnreadableJson(1, "\xff"), Utf8(u8R"({"type":"","unreadable":true,"length":1,"reason":"�"})"));
}

TEST(MessagePrinter, ChatLineIsUtf8OnOneLine)
{
    CMessageUserTalking talk;
    talk.source = "alice@hub";
    talk.target = "bob@hub";
    talk.text = CXmlMsg::u2gb(Utf8(u8"你好\nworld\t!"));
    EXPECT_EQ(CMessagePrinter::Text(talk),
              Utf8(u8"user-talking from alice@hub to bob@hub: 你好\\nworld\\t!"));
}

TEST(MessagePrinter, RepliesShowResultsAndErrors)
{
    CMessageUserLogin login;
    login.source = "alice";
    login.userId = "alice";
    login.result = "failed";
    login.error = CXmlMsg::u2gb(Utf8(u8"用户账号不能包含"));
    EXPECT_EQ(CMessagePrinter::Text(login), Utf8(u8"user-login from alice: alice failed - 用户账号不能包含"));

    CMessageUserFriend request;
    request.asker.userId = "alice";
    request.asker.serverName = "hub";
    request.asked.userId = "bob";
    request.asked.serverName = "hub";
    EXPECT_EQ(CMessagePrinter::Text(request), "user-friend: alice@hub asks bob@hub to be friends");
    request.result = "success";
    EXPECT_EQ(CMessagePrinter::Text(request), "user-friend: alice@hub and bob@hub are friends");

    CMessageUserList list;
    list.online = "true";
    CTalker bob;
    bob.userId = "bob";
    bob.serverName = "hub";
    bob.name = "Bob";
    bob.statu = "online";
    bob.password = "never-shown";
    list.AddTalker(bob);
    const std::string line = CMessagePrinter::Text(list);
    EXPECT_EQ(line, "user-list: 1 users online: bob@hub \"Bob\" online");
}

TEST(MessagePrinter, JsonCarriesHeadBodyAndRecords)
{
    CMessageUserInfor info;
    info.type = "user-infor";
    info.source = "alice@hub";
    info.user = "bob";
    info.name = CXmlMsg::u2gb(Utf8(u8"鲍勃 \"B\""));
    info.routedServers.emplace_back().name = "hub";
    CTalker friendRecord;
    friendRecord.userId = "carol";
    info.AddTalker(friendRecord);
    const std::string json = CMessagePrinter::Json(info);
    EXPECT_EQ(json.find('\n'), std::string::npos);
    EXPECT_NE(json.find(R"("type":"user-infor")"), std::string::npos);
    EXPECT_NE(json.find(R"("routed":["hub"])"), std::string::npos);
    EXPECT_NE(json.find(Utf8(u8R"("name":"鲍勃 \"B\"")")), std::string::npos);
    EXPECT_NE(json.find(R"("talkers":[{"userid":"carol")"), std::string::npos);
}

TEST(MessagePrinter, FileChunkJsonCountsBytesInsteadOfCopyingThem)
{
    CMessageTransFile chunk;
    chunk.file = "a.bin";
    chunk.data = "QUJD";
    const std::string json = CMessagePrinter::Json(chunk);
    EXPECT_EQ(json.find("QUJD"), std::string::npos);
    EXPECT_NE(json.find(R"("chunk":3)"), std::string::npos);
    EXPECT_NE(CMessagePrinter::Text(chunk).find("chunk 3"), std::string::npos);
}

TEST(MessagePrinter, UnknownAndUnreadable)
{
    CMessageBase head;
    head.type = "group-chat";
    head.source = "x@y";
    EXPECT_EQ(CMessagePrinter::UnknownText(head), "group-chat from x@y: message of an unknown type");
    EXPECT_NE(CMessagePrinter::UnknownJson(head).find(R"("known":false)"), std::string::npos);
    EXPECT_EQ(CMessagePrinter::UnreadableJson(5, "bad\n"),
              R"({"type":"","unreadable":true,"length":5,"reason":"bad\n"})");
}
