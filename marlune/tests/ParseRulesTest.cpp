#include "TestText.h"

#include "marlune/Marlune.h"
#include "quorvel_test_support/ParseOutcome.h"

#include <gtest/gtest.h>

#include <string>

using marlune::CMessageBase;
using marlune::CMessageHeart;
using marlune::CMessageUserList;
using marlune::CMessageUserTalking;
using marlune::CXmlMsg;
using quorvel::testsupport::ParseOutcome;

namespace {

// A payload that must give neither a message nor a head.
void ExpectRefused(const std::string& payload, const std::string& what)
{
    const ParseOutcome out = ParseOutcome::Of(payload);
    EXPECT_EQ(out.msg, nullptr) << what;
    EXPECT_TRUE(out.head.type.empty()) << what;
    EXPECT_TRUE(out.head.target.empty()) << what;
    EXPECT_TRUE(out.head.routedServers.empty()) << what;
    EXPECT_FALSE(out.error.empty()) << what;
}

std::string Repeat(const std::string& piece, std::size_t times)
{
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

} // namespace

TEST(ParseRules, UnknownTypeGivesNoObjectButFillsTheHead)
{
    for (const char* type : {"user-dance", ""}) {
        const ParseOutcome out = ParseOutcome::Of(std::string("<msg type=\"") + type +
                                  "\" time=\"t\" source=\"a@hub\" target=\"b@hub\" memo=\"m\">"
                                  "<routed><server name=\"hub\"/><relay name=\"edge\"/></routed>"
                                  "<body anything=\"x\"/></msg>");
        EXPECT_EQ(out.msg, nullptr);
        EXPECT_EQ(out.head.type, type);
        EXPECT_EQ(out.head.time, "t");
        EXPECT_EQ(out.head.source, "a@hub");
        EXPECT_EQ(out.head.target, "b@hub");
        EXPECT_EQ(out.head.memo, "m");
        ASSERT_EQ(out.head.routedServers.size(), 2u) << "element names in routed are not checked";
        EXPECT_EQ(out.head.routedServers[1].name, "edge");
    }
}

TEST(ParseRules, AcceptsOptionalPartsAndIgnoresUnknownOnes)
{
    const ParseOutcome bare = ParseOutcome::Of("<msg type=\"heart\"/>");
    ASSERT_NE(bare.msg, nullptr) << bare.error;
    EXPECT_EQ(bare.head.source, "");
    EXPECT_EQ(dynamic_cast<CMessageHeart&>(*bare.msg).sender, "");

    const ParseOutcome extra = ParseOutcome::Of(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- hello -->\n"
        "<msg type=\"heart\" colour=\"red\"><extra/><body sender=\"cli\" x=\"1\"><y/></body></msg>\n");
    ASSERT_NE(extra.msg, nullptr) << extra.error;
    EXPECT_EQ(dynamic_cast<CMessageHeart&>(*extra.msg).sender, "cli");

    const ParseOutcome entities = ParseOutcome::Of(
        "<msg type='user-talking' source='a&amp;b'><body>&lt;&#x4F60;&#22909;&gt;<![CDATA[<x>]]></body></msg>");
    ASSERT_NE(entities.msg, nullptr) << entities.error;
    EXPECT_EQ(entities.msg->source, "a&b");
    EXPECT_EQ(dynamic_cast<CMessageUserTalking&>(*entities.msg).text, "<你好><x>");
}

TEST(ParseRules, TextsArriveAsGbk)
{
    const ParseOutcome out =
        ParseOutcome::Of(Utf8(u8"<msg type=\"user-talking\" source=\"张三@总部\"><body>你好😀</body></msg>"));
    ASSERT_NE(out.msg, nullptr) << out.error;
    EXPECT_EQ(out.head.source, "张三@总部");
    EXPECT_EQ(out.msg->DetachSourceServerName(), "总部");
    EXPECT_EQ(dynamic_cast<CMessageUserTalking&>(*out.msg).text, "你好😀");
}

TEST(ParseRules, MalformedPayloadsGiveNoObjectAndNoHead)
{
    ExpectRefused("", "empty");
    ExpectRefused("not xml at all", "plain text");
    ExpectRefused("<msg type=\"heart\">", "unclosed root");
    ExpectRefused("<msg type=\"heart\"/><msg type=\"heart\"/>", "two roots");
    ExpectRefused("<message type=\"heart\"/>", "root is not msg");
    ExpectRefused("<msg type=\"heart\" type=\"heart\"/>", "repeated attribute");
    ExpectRefused("<msg type=\"he\xff\xfe\"/>", "bytes that are not UTF-8");
    ExpectRefused("<msg type=\"\xc0\xaf\"/>", "overlong UTF-8");
    ExpectRefused("<msg type=\"\xed\xa0\x80\"/>", "encoded surrogate");
    ExpectRefused("<msg type=\"heart\"><body sender=\"&#xD800;\"/></msg>", "surrogate reference");
    ExpectRefused(std::string("<msg type=\"heart\"/>\0<x", 22), "NUL after the document");
    ExpectRefused(std::string("<msg type=\"hea\0rt\"/>", 20), "NUL inside a value");
    ExpectRefused("<!DOCTYPE msg [<!ENTITY e \"boom\">]><msg type=\"heart\">&e;</msg>", "document type");

    CXmlMsg xml;
    CMessageBase head;
    EXPECT_EQ(xml.ParseXmlNew(nullptr, 10, &head), nullptr);
    EXPECT_EQ(xml.ParseXmlNew("<msg type=\"heart\"/>", 19, nullptr)->type, "heart");
}

TEST(ParseRules, HostileShapesAreRefusedQuickly)
{
    ExpectRefused("<msg type=\"heart\">" + Repeat("<a>", 10000) + Repeat("</a>", 10000) + "</msg>",
                  "ten thousand nested elements");
    ExpectRefused("<msg type=\"heart\"><body" + Repeat(" a=\"\"", 1000000) + "/></msg>",
                  "a million attributes on one element");
    ExpectRefused("<msg type=\"heart\"><body>" + Repeat("<t a='' b='' c=''/>", 200000) + "</body></msg>",
                  "attributes dense beyond any record");
    ExpectRefused("<msg type=\"user-list\"><body>" + Repeat("<talker/>", 200000) + "</body></msg>",
                  "elements dense beyond any record");
    ExpectRefused("<msg type=\"heart\"><body>" + Repeat("<!---->", 200000) + "</body></msg>",
                  "comments dense beyond any record");
    ExpectRefused("<msg type=\"heart\" time=\"" + std::string(1 << 20, 'x'), "unterminated huge value");
}

TEST(ParseRules, LargeButHonestPayloadsParse)
{
    const std::string huge(16u << 20, 'x');
    const ParseOutcome value = ParseOutcome::Of("<msg type=\"heart\" time=\"" + huge + "\"/>");
    ASSERT_NE(value.msg, nullptr) << value.error;
    EXPECT_EQ(value.msg->time.size(), huge.size());

    const std::string talker =
        "<talker userid=\"u\" name=\"\" sex=\"\" tel=\"\" password=\"\" statu=\"\" friends=\"\" "
        "server=\"\" serverdesc=\"\" memo=\"\"/>\n";
    const ParseOutcome list = ParseOutcome::Of("<msg type=\"user-list\"><body count=\"5000\">" + Repeat(talker, 5000) +
                               "</body></msg>");
    ASSERT_NE(list.msg, nullptr) << list.error;
    EXPECT_EQ(dynamic_cast<CMessageUserList&>(*list.msg).talkers.size(), 5000u);

    const std::string nested = "<msg type=\"heart\">" + Repeat("<a>", 14) + Repeat("</a>", 14) + "</msg>";
    EXPECT_NE(ParseOutcome::Of(nested).msg, nullptr);
}

TEST(ParseRules, EachParseSeesOnlyItsOwnPayload)
{
    // Short payloads share one parser per thread, long ones get their own:
    // whatever came before, a parse gives exactly its payload's content.
    const std::string routed = "<msg type=\"user-talking\" source=\"a@hub\"><routed><server name=\"hub\"/>"
                               "<server name=\"edge\"/></routed><body>first</body></msg>";
    const std::string plain = "<msg type=\"user-talking\"><body/></msg>";
    const std::string longText(100000, 'y');
    const std::string longer = "<msg type=\"user-talking\" memo=\"m\"><body>" + longText + "</body></msg>";
    const std::string broken = "<msg type=\"user-talking\"><body>cut";
    for (int round = 0; round < 2; ++round) {
        const ParseOutcome first = ParseOutcome::Of(routed);
        ASSERT_NE(first.msg, nullptr) << first.error;
        EXPECT_EQ(first.msg->routedServers.size(), 2u);
        EXPECT_EQ(first.head.routedServers.size(), 2u);
        EXPECT_EQ(dynamic_cast<CMessageUserTalking&>(*first.msg).text, "first");

        ExpectRefused(broken, "cut short after a good payload");

        const ParseOutcome empty = ParseOutcome::Of(plain);
        ASSERT_NE(empty.msg, nullptr) << empty.error;
        EXPECT_TRUE(empty.msg->routedServers.empty());
        EXPECT_EQ(empty.msg->source, "");
        EXPECT_EQ(dynamic_cast<CMessageUserTalking&>(*empty.msg).text, "");

        const ParseOutcome big = ParseOutcome::Of(longer);
        ASSERT_NE(big.msg, nullptr) << big.error;
        EXPECT_EQ(big.head.memo, "m");
        EXPECT_EQ(dynamic_cast<CMessageUserTalking&>(*big.msg).text, longText);
    }
}
