#include "TestText.h"

#include "marlune/Marlune.h"

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using marlune::BX_DATA;
using marlune::CFieldVisitor;
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
using marlune::CTalkerServer;
using marlune::CXmlMsg;

namespace {

// A GBK text with Chinese characters and, through GB18030, an emoji.
const std::string kWide = "张三😀";

// Gives every field a distinct value, lists two records each.
class Filler : public CFieldVisitor {
public:
    void Text(const char* attribute, std::string& value) override { value = Next(attribute); }
    void Content(std::string& value) override { value = "  第一行\n\t第二行 " + kWide + " "; }
    void Talker(CTalker& talker) override { FillTalker(talker); }
    void Talkers(std::vector<CTalker>& talkers) override
    {
        FillTalker(talkers.emplace_back());
        FillTalker(talkers.emplace_back());
    }
    void Server(CTalkerServer& server) override
    {
        server.name = Next("name");
        server.ip = "10.0.0.1";
        server.port = "8801";
        server.description = Next("description");
        FillTalker(*server.AddTalker(CTalker{}));
        FillTalker(*server.AddTalker(CTalker{}));
    }

private:
    std::string Next(const std::string& what) { return what + "-" + std::to_string(++n_) + kWide; }
    void FillTalker(CTalker& talker)
    {
        for (std::string* field : {&talker.userId, &talker.name, &talker.sex, &talker.tel,
                                   &talker.password, &talker.statu, &talker.friends,
                                   &talker.serverName, &talker.serverDesc, &talker.memo}) {
            *field = Next("talker");
        }
    }
    int n_ = 0;
};

// Every value a message holds, in visiting order, for comparison.
class Collector : public CFieldVisitor {
public:
    std::vector<std::string> values;

    void Text(const char* attribute, std::string& value) override { Add(attribute, value); }
    void Content(std::string& value) override { Add("#content", value); }
    void Talker(CTalker& talker) override { AddTalker(talker); }
    void Talkers(std::vector<CTalker>& talkers) override
    {
        values.push_back("#talkers " + std::to_string(talkers.size()));
        for (const CTalker& talker : talkers) {
            AddTalker(talker);
        }
    }
    void Server(CTalkerServer& server) override
    {
        for (const std::string* field : {&server.name, &server.ip, &server.port, &server.description}) {
            values.push_back(*field);
        }
        values.push_back("#talkers " + std::to_string(server.Talkers().size()));
        for (const auto& talker : server.Talkers()) {
            AddTalker(*talker);
        }
    }

private:
    void Add(const std::string& name, const std::string& value) { values.push_back(name + "=" + value); }
    void AddTalker(const CTalker& t)
    {
        values.insert(values.end(), {t.userId, t.name, t.sex, t.tel, t.password, t.statu,
                                     t.friends, t.serverName, t.serverDesc, t.memo});
    }
};

std::vector<std::string> Collect(CMessageBase& msg)
{
    Collector collector;
    msg.VisitBody(collector);
    return collector.values;
}

// The attribute names of the built body element, in document order.
std::vector<std::string> BodyAttributes(const std::string& xml)
{
    tinyxml2::XMLDocument doc;
    EXPECT_EQ(doc.Parse(xml.data(), xml.size()), tinyxml2::XML_SUCCESS);
    std::vector<std::string> names;
    const auto* body = doc.RootElement()->FirstChildElement("body");
    for (const auto* a = body->FirstAttribute(); a != nullptr; a = a->Next()) {
        names.emplace_back(a->Name());
    }
    return names;
}

struct TypeCase {
    std::function<std::unique_ptr<CMessageBase>()> make;
    std::vector<std::string> attributes;   // the body attributes, in wire order
};

template <typename Message>
TypeCase Case(std::vector<std::string> attributes)
{
    return {[] { return std::make_unique<Message>(); }, std::move(attributes)};
}

const std::vector<TypeCase>& AllTypes()
{
    static const std::vector<TypeCase> cases = {
        Case<CMessageHeart>({"sender"}),
        Case<CMessageUserLogin>({"userid", "password", "statu", "client", "result", "error", "name",
                                 "sex", "tel", "force"}),
        Case<CMessageUserReg>({"userid", "name", "sex", "password", "tel", "result", "error", "modify"}),
        Case<CMessageUserInfor>({"user", "name", "sex", "tel", "password", "face", "server", "statu"}),
        Case<CMessageUserList>({"userid", "count", "filter", "online"}),
        Case<CMessageChangeStatu>({"userid", "server", "statu", "note"}),
        Case<CMessageServerPub>({}),
        Case<CMessageTransFile>({"file", "size", "offset", "action"}),
        Case<CMessageUserTalking>({"format"}),
        Case<CMessageUserFriend>({"result", "text"}),
    };
    return cases;
}

} // namespace

TEST(RoundTrip, EveryTypeKeepsEveryFieldInWireOrder)
{
    CXmlMsg xml;
    for (const TypeCase& c : AllTypes()) {
        std::unique_ptr<CMessageBase> original = c.make();
        SCOPED_TRACE(original->type);
        Filler filler;
        original->VisitBody(filler);
        original->time = "2026-12-07 21:30:00";
        original->source = "张三@总部";
        original->target = "bob@hub";
        original->memo = kWide;
        original->route = 1;
        CTalkerServer hub;
        hub.name = "hub";
        CTalkerServer edge;
        edge.name = "边缘";
        original->AddRoutedServer(hub);
        original->AddRoutedServer(edge);

        BX_DATA bx{original.get()};
        const std::size_t length = xml.BuildXml(&bx);
        ASSERT_GT(length, 0u) << xml.LastError();
        ASSERT_EQ(length, bx.Length());
        EXPECT_EQ(BodyAttributes(bx.buff), c.attributes);

        CMessageBase head(nullptr);
        std::unique_ptr<CMessageBase> parsed = xml.ParseXmlNew(bx.Data(), bx.Length(), &head);
        ASSERT_NE(parsed, nullptr) << xml.LastError();
        EXPECT_EQ(typeid(*parsed), typeid(*original));
        EXPECT_EQ(Collect(*parsed), Collect(*original));
        for (CMessageBase* got : {parsed.get(), &head}) {
            EXPECT_EQ(got->type, original->type);
            EXPECT_EQ(got->time, original->time);
            EXPECT_EQ(got->source, original->source);
            EXPECT_EQ(got->target, original->target);
            EXPECT_EQ(got->memo, kWide);
            EXPECT_EQ(got->route, 0) << "the route flag never travels";
            ASSERT_EQ(got->routedServers.size(), 2u);
            EXPECT_EQ(got->routedServers[0].name, "hub");
            EXPECT_EQ(got->routedServers[1].name, "边缘");
        }
    }
}

TEST(RoundTrip, NamedFieldsLandInTheirMembers)
{
    const std::string request = Utf8(
        u8R"(<msg type="user-friend" time="t" source="alice@hub" target="bob@hub" memo="">
  <body result="success" text="你好">
    <talker userid="alice" server="hub" name="爱丽丝"/>
    <talker userid="bob" server="hub"/>
  </body>
</msg>)");
    CXmlMsg xml;
    auto msg = xml.ParseXmlNew(request.data(), request.size(), nullptr);
    auto* friendMsg = dynamic_cast<CMessageUserFriend*>(msg.get());
    ASSERT_NE(friendMsg, nullptr) << xml.LastError();
    EXPECT_EQ(friendMsg->result, "success");
    EXPECT_EQ(friendMsg->text, "你好");
    EXPECT_EQ(friendMsg->asker.userId, "alice");
    EXPECT_EQ(friendMsg->asker.name, "爱丽丝");
    EXPECT_EQ(friendMsg->asked.userId, "bob");
    EXPECT_EQ(friendMsg->asked.serverName, "hub");

    const std::string pub = Utf8(
        u8R"(<msg type="server-pub"><body><server name="edge" ip="10.0.0.2" port="8802" description="d">
<talker userid="u1" password="p" friends="a@hub/b@hub"/><talker userid="u2"/></server></body></msg>)");
    msg = xml.ParseXmlNew(pub.data(), pub.size(), nullptr);
    auto* pubMsg = dynamic_cast<CMessageServerPub*>(msg.get());
    ASSERT_NE(pubMsg, nullptr) << xml.LastError();
    EXPECT_EQ(pubMsg->server.name, "edge");
    EXPECT_EQ(pubMsg->server.port, "8802");
    ASSERT_EQ(pubMsg->server.Talkers().size(), 2u);
    EXPECT_EQ(pubMsg->server.Talkers()[0]->friends, "a@hub/b@hub");
    EXPECT_EQ(pubMsg->server.GetTalkerByUserID("u2")->password, "");
}

TEST(RoundTrip, BuiltDocumentHasTheFixedShape)
{
    CMessageUserLogin login;
    login.time = "2026-12-07 21:30:00";
    login.source = "alice@hub";
    login.userId = "alice";
    login.result = "success";
    BX_DATA bx{&login};
    CXmlMsg xml;
    ASSERT_GT(xml.BuildXml(&bx), 0u);
    EXPECT_EQ(bx.buff,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<msg type=\"user-login\" time=\"2026-12-07 21:30:00\" source=\"alice@hub\" target=\"\" memo=\"\">\n"
              "  <body userid=\"alice\" password=\"\" statu=\"\" client=\"\" result=\"success\" error=\"\" "
              "name=\"\" sex=\"\" tel=\"\" force=\"\"/>\n"
              "</msg>\n");

    CMessageUserTalking talk;
    talk.text = "a < b & c > \"d\"";
    bx = BX_DATA{&talk};
    ASSERT_GT(xml.BuildXml(&bx), 0u);
    EXPECT_NE(bx.buff.find("<body format=\"\">a &lt; b &amp; c &gt; \"d\"</body>"), std::string::npos)
        << bx.buff;

    // In an attribute a parser turns raw tab, newline and carriage return
    // into blanks, so they are written as references; in text only the
    // carriage return is.
    talk.format = "\ta\nb\rc";
    talk.text = "1\t2\n3\r4";
    bx = BX_DATA{&talk};
    ASSERT_GT(xml.BuildXml(&bx), 0u);
    EXPECT_NE(bx.buff.find("<body format=\"&#9;a&#10;b&#13;c\">1\t2\n3&#13;4</body>"), std::string::npos)
        << bx.buff;
}

TEST(RoundTrip, WhiteSpaceAndControlCharactersSurviveExactly)
{
    const std::string texts[] = {
        " ", "\n", "\r\n", "  leading", "trailing\t ", "a\r\nb\rc\n", "x\x01y\x1fz", "]]>", "&amp;",
    };
    CXmlMsg xml;
    for (const std::string& text : texts) {
        CMessageUserTalking talk;
        talk.text = text;
        talk.format = text;
        talk.memo = text;
        BX_DATA bx{&talk};
        ASSERT_GT(xml.BuildXml(&bx), 0u);
        auto parsed = xml.ParseXmlNew(bx.Data(), bx.Length(), nullptr);
        auto* back = dynamic_cast<CMessageUserTalking*>(parsed.get());
        ASSERT_NE(back, nullptr) << xml.LastError() << "\n" << bx.buff;
        EXPECT_EQ(back->text, text) << bx.buff;
        EXPECT_EQ(back->format, text) << bx.buff;
        EXPECT_EQ(back->memo, text) << bx.buff;
    }
}

TEST(RoundTrip, WhatTheLibraryBuildsItParsesWhateverTheListLengths)
{
    CMessageUserList list;
    for (int i = 0; i < 3000; ++i) {
        list.AddRoutedServer(CTalkerServer{});
        list.AddTalker(CTalker{});
    }
    BX_DATA bx(&list);
    CXmlMsg xml;
    ASSERT_GT(xml.BuildXml(&bx), 0u);
    auto parsed = xml.ParseXmlNew(bx.Data(), bx.Length(), nullptr);
    ASSERT_NE(parsed, nullptr) << xml.LastError();
    EXPECT_EQ(parsed->routedServers.size(), 3000u);
    EXPECT_EQ(dynamic_cast<CMessageUserList&>(*parsed).talkers.size(), 3000u);
}

TEST(RoundTrip, TextThatIsNotGbkBuildsNothing)
{
    CMessageUserTalking talk;
    talk.text = "\x81";   // a lead byte without its trail
    BX_DATA bx{&talk};
    CXmlMsg xml;
    EXPECT_EQ(xml.BuildXml(&bx), 0u);
    EXPECT_TRUE(bx.buff.empty());
    EXPECT_FALSE(xml.LastError().empty());

    EXPECT_EQ(xml.BuildXml(nullptr), 0u);
    BX_DATA none;
    EXPECT_EQ(xml.BuildXml(&none), 0u);

    EXPECT_TRUE(xml.BuildBytes(talk).empty());
    EXPECT_FALSE(xml.LastError().empty());
}

TEST(RoundTrip, BuildBytesGivesWhatBuildXmlBuilds)
{
    CMessageUserTalking talk;
    talk.target = "bob@北京";
    talk.text = kWide;
    BX_DATA bx{&talk};
    CXmlMsg xml;
    ASSERT_GT(xml.BuildXml(&bx), 0u);
    EXPECT_EQ(xml.BuildBytes(talk), bx.buff);
    EXPECT_TRUE(xml.LastError().empty());
}

// Long texts are scanned in words of eight bytes: a character that needs
// escaping, a GBK character, a byte that is not UTF-8 must each be met
// wherever it stands in a word and after it.
TEST(RoundTrip, LongTextsKeepEveryCharacterWhereverItStands)
{
    CXmlMsg xml;
    for (std::size_t at = 0; at < 24; ++at) {
        for (const std::string& odd : {std::string("<"), std::string("&"), std::string("\""),
                                       std::string("\x01"), std::string("\x7f"), std::string("张")}) {
            std::string text(40, 'a');
            text.insert(at, odd);
            CMessageUserTalking talk;
            talk.text = text;
            talk.memo = text;
            const std::string bytes = xml.BuildBytes(talk);
            auto parsed = xml.ParseXmlNew(bytes.data(), bytes.size(), nullptr);
            auto* back = dynamic_cast<CMessageUserTalking*>(parsed.get());
            ASSERT_NE(back, nullptr) << xml.LastError() << " at " << at;
            EXPECT_EQ(back->text, text) << "at " << at;
            EXPECT_EQ(back->memo, text) << "at " << at;
        }
        std::string bad = "<msg type=\"heart\" time=\"" + std::string(40, 'b') + "\"/>";
        bad[24 + at] = '\xff';
        EXPECT_EQ(xml.ParseXmlNew(bad.data(), bad.size(), nullptr), nullptr) << "at " << at;
        EXPECT_FALSE(xml.LastError().empty());
    }
}
