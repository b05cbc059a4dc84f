// Payloads in the library's own layout are read without the general XML
// parser, and relayed by splicing a routed entry into them. Both shortcuts
// must give exactly what the general path gives.
#include "TestText.h"

#include "marlune/Marlune.h"
#include "quorvel_test_support/ParseOutcome.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using marlune::CMessageBase;
using marlune::CMessageHeart;
using marlune::CMessageTransFile;
using marlune::CMessageUserList;
using marlune::CMessageUserLogin;
using marlune::CMessageUserTalking;
using marlune::CTalker;
using marlune::CTalkerServer;
using marlune::CXmlMsg;
using quorvel::testsupport::BuiltBytes;
using quorvel::testsupport::ParseOutcome;

namespace {

// Parses payload both ways and expects the same message, head and error;
// returns whether the direct way read it.
bool ExpectSameBothWays(const std::string& payload)
{
    ParseOutcome direct = ParseOutcome::Of(payload, true);
    ParseOutcome general = ParseOutcome::Of(payload, false);
    EXPECT_FALSE(general.ownLayout);
    EXPECT_EQ(direct.msg == nullptr, general.msg == nullptr) << payload;
    EXPECT_EQ(direct.error, general.error) << payload;
    if (direct.msg && general.msg) {
        EXPECT_EQ(typeid(*direct.msg), typeid(*general.msg));
        EXPECT_EQ(BuiltBytes(*direct.msg), BuiltBytes(*general.msg)) << payload;
    }
    EXPECT_EQ(BuiltBytes(direct.head), BuiltBytes(general.head)) << payload;
    if (direct.ownLayout) {
        // Own layout means: what the library builds, byte for byte.
        EXPECT_NE(direct.msg, nullptr);
        EXPECT_EQ(BuiltBytes(*general.msg), payload);
    }
    return direct.ownLayout;
}

CTalkerServer Server(const std::string& name)
{
    CTalkerServer server;
    server.name = name;
    return server;
}

CMessageTransFile FilePiece(const std::string& file, const std::string& data, std::vector<std::string> routed)
{
    CMessageTransFile piece;
    piece.time = "2026-12-08 23:10:00";
    piece.source = "alice@hub";
    piece.target = "bob@edge";
    piece.file = file;
    piece.size = "1024";
    piece.offset = "0";
    piece.action = "data";
    piece.data = data;
    for (const std::string& name : routed)
        piece.AddRoutedServer(Server(name));
    return piece;
}

} // namespace

TEST(OwnLayout, WhatTheLibraryBuildsIsReadDirectlyAndAsTheParserReadsIt)
{
    CMessageUserTalking chinese;
    chinese.source = "张三@总部";
    chinese.target = "李四@总部";
    chinese.text = "  中午一起吃饭吗？\n\t\"老地方\" 😀";
    CMessageHeart heart;
    heart.sender = "alice@hub";
    CMessageUserLogin login;
    login.userId = "alice";
    login.force = "true";
    CMessageTransFile empty = FilePiece("", "", {});
    CMessageTransFile routed = FilePiece("a.bin", "QUJD", {"edge", "hub", "中转"});
    CMessageBase* flat[] = {&chinese, &heart, &login, &empty, &routed};
    for (CMessageBase* message : flat)
        EXPECT_TRUE(ExpectSameBothWays(BuiltBytes(*message))) << message->type;

    // Values the layout writes as entities or references, and bodies with
    // records, go to the general parser, with the same result.
    CMessageUserTalking markup = chinese;
    markup.text = "a < b & c > d";
    CMessageTransFile quoted = FilePiece("say \"hi\".txt", "QUJD", {});
    CMessageTransFile blanks = FilePiece("a.bin", " \n ", {});
    CMessageTransFile lineFeed = FilePiece("a\nb", "QUJD", {});
    CMessageUserList list;
    list.talkers.emplace_back().userId = "bob";
    CMessageUserList emptyList;
    CMessageBase* general[] = {&markup, &quoted, &blanks, &lineFeed, &list, &emptyList};
    for (CMessageBase* message : general)
        EXPECT_FALSE(ExpectSameBothWays(BuiltBytes(*message))) << message->type;
}

TEST(OwnLayout, AnyDifferenceFromTheLayoutLeavesThePayloadToTheParser)
{
    CMessageTransFile piece = FilePiece("a.bin", "QUJD", {"edge"});
    const std::string built = BuiltBytes(piece);
    ASSERT_TRUE(ExpectSameBothWays(built));
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string changed = built;
        const std::size_t at = changed.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? changed : changed.replace(at, from.size(), to);
    };
    const std::string variants[] = {
        built.substr(built.find('\n') + 1),                  // no declaration
        built + " ",                                         // trailing blank
        built.substr(0, built.size() - 1),                   // no final line feed
        replaced("\n</msg>", "\r\n</msg>"),                  // a carriage return
        replaced("type=\"trans-file\"", "type='trans-file'"),
        replaced(" time=", "  time="),
        replaced("file=\"a.bin\" size=\"1024\"", "size=\"1024\" file=\"a.bin\""),
        replaced("file=\"a.bin\"", "file=\"a&#46;bin\""),
        replaced("QUJD", "QU&amp;JD"),
        replaced("QUJD", "QUJD<!-- note -->"),
        replaced("QUJD", "<![CDATA[QUJD]]>"),
        replaced("QUJD</body>", "QUJD</body><extra/>"),
        replaced("action=\"data\"", "action=\"data\" extra=\"1\""),
        replaced("<server name=\"edge\"/>", "<relay name=\"edge\"/>"),
        replaced("<server name=\"edge\"/>", "<server name=\"edge\" />"),
        replaced("  <routed>\n    <server name=\"edge\"/>\n  </routed>\n", "  <routed/>\n"),
        replaced("type=\"trans-file\"", "type=\"user-dance\""),   // unknown type: head only
        replaced("</body>", "</bodx>"),                            // not well-formed
        replaced("<msg", "<message"),
    };
    for (const std::string& variant : variants)
        EXPECT_FALSE(ExpectSameBothWays(variant)) << variant;
}

TEST(OwnLayout, RelayedBytesAreTheBuildOfTheMessageWithTheAddedEntry)
{
    const std::vector<std::vector<std::string>> lists = {{}, {"edge"}, {"edge", "中转", "hub2"}};
    for (const auto& routed : lists) {
        for (const std::string& self : {std::string("hub"), std::string("总部"), std::string("a&\"b")}) {
            CMessageTransFile piece = FilePiece("报告.pdf", "QUJD", routed);
            const std::string received = BuiltBytes(piece);
            ParseOutcome parsed = ParseOutcome::Of(received, true);
            ASSERT_TRUE(parsed.ownLayout);
            parsed.msg->AddRoutedServer(Server(self));
            EXPECT_EQ(CXmlMsg::BuildRelayed(received, *parsed.msg), BuiltBytes(*parsed.msg)) << received;
        }
    }
}

TEST(OwnLayout, RelayRefusesAMessageWithOtherThanOneNewEntry)
{
    CMessageTransFile piece = FilePiece("a.bin", "QUJD", {"edge"});
    const std::string received = BuiltBytes(piece);
    EXPECT_EQ(CXmlMsg::BuildRelayed(received, piece), "");   // no entry added
    piece.AddRoutedServer(Server("hub"));
    piece.AddRoutedServer(Server("hub2"));
    EXPECT_EQ(CXmlMsg::BuildRelayed(received, piece), "");   // two added
    CMessageTransFile bare = FilePiece("a.bin", "QUJD", {});
    EXPECT_EQ(CXmlMsg::BuildRelayed(BuiltBytes(bare), bare), "");
    piece.routedServers.pop_back();
    piece.routedServers.back().name = "\x81";   // not GB18030
    EXPECT_EQ(CXmlMsg::BuildRelayed(received, piece), "");
}

// The relay passes received UTF-8 on where a build would convert it to
// GB18030 and back: that must give every character back unchanged.
TEST(OwnLayout, EveryCharacterSurvivesTheWayThroughGb18030)
{
    auto utf8 = [](char32_t c) {
        std::string out;
        if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        }
        out += static_cast<char>(0x80 | (c & 0x3F));
        return out;
    };
    // A run of characters at a time; a run with a character GB18030 cannot
    // hold (it fails the parse either way) is checked one by one.
    constexpr char32_t kRun = 4096;
    for (char32_t first = 0x80; first <= 0x10FFFF; first += kRun) {
        std::vector<std::string> run;
        std::string joined;
        for (char32_t c = first; c < first + kRun && c <= 0x10FFFF; ++c) {
            if (c < 0xD800 || c > 0xDFFF)
                joined += run.emplace_back(utf8(c));
        }
        const std::string gbk = CXmlMsg::u2gb(joined);
        if (!gbk.empty()) {
            ASSERT_EQ(CXmlMsg::g2u(gbk), joined) << "from U+" << std::hex << static_cast<unsigned>(first);
            continue;
        }
        for (const std::string& one : run) {
            const std::string single = CXmlMsg::u2gb(one);
            if (!single.empty()) {
                ASSERT_EQ(CXmlMsg::g2u(single), one);
            }
        }
    }
}
