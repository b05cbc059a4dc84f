#include "TestText.h"

#include "marlune/Marlune.h"

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <string>
#include <thread>
#include <vector>

using marlune::BX_DATA;
using marlune::CMessageBase;
using marlune::CTalkerServer;
using marlune::CXmlMsg;

TEST(Conversion, GbkAndUtf8RoundTripByteForByte)
{
    const std::string gbk = "中文 ABC 😀 €";
    const std::string utf8 = Utf8(u8"中文 ABC 😀 €");
    EXPECT_EQ(CXmlMsg::g2u(gbk), utf8);
    EXPECT_EQ(CXmlMsg::u2gb(utf8), gbk);
    EXPECT_EQ(CXmlMsg::g2u(""), "");
    EXPECT_EQ(CXmlMsg::g2u("plain"), "plain");

    EXPECT_EQ(CXmlMsg::u2gb("\xff"), "") << "not UTF-8 gives no text";
    EXPECT_EQ(CXmlMsg::u2gb("ab\xe4\xb8"), "") << "a character cut short gives no text";
    EXPECT_EQ(CXmlMsg::g2u("ab\x81"), "") << "a lead byte without its trail gives no text";
}

TEST(Conversion, ShowingMarksOnlyTheBytesThatDoNotConvert)
{
    EXPECT_EQ(CXmlMsg::g2uShowing("中文 ABC"), Utf8(u8"中文 ABC"));
    EXPECT_EQ(CXmlMsg::g2uShowing("plain"), "plain");
    EXPECT_EQ(CXmlMsg::g2uShowing(std::string("a\xFF") + "b"), "a?b");
    EXPECT_EQ(CXmlMsg::g2uShowing(std::string("中\xFF文")), Utf8(u8"中?文"));
    EXPECT_EQ(CXmlMsg::g2uShowing("ab\x81"), "ab?") << "a lead byte without its trail";
}

// "À" takes 2 bytes in UTF-8 and 4 in GB18030: the GBK form of a text made
// of it is twice as long, and conversion must have room for all of it.
TEST(Conversion, TextThatDoublesInGbkConvertsWhole)
{
    ASSERT_EQ(std::string("À").size(), 4u);
    ASSERT_EQ(Utf8(u8"À").size(), 2u);
    std::string gbk;
    std::string utf8;
    for (int i = 0; i < 40; ++i) {
        gbk += "À";
        utf8 += Utf8(u8"À");
        ASSERT_EQ(CXmlMsg::u2gb(utf8), gbk) << i + 1 << " characters";
        ASSERT_EQ(CXmlMsg::g2u(gbk), utf8) << i + 1 << " characters";
    }
}

TEST(Conversion, ThreadsConvertAtTheSameTime)
{
    const std::string gbk = "张三李四王五 😀";
    const std::string utf8 = Utf8(u8"张三李四王五 😀");
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                if (CXmlMsg::g2u(gbk) != utf8 || CXmlMsg::u2gb(utf8) != gbk) {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST(Document, HeadAndSerialisationMatchTheMessageForm)
{
    CXmlMsg xml;
    tinyxml2::XMLDocument doc;
    CMessageBase head(nullptr);
    tinyxml2::XMLElement* root = xml.createXmlHead(doc, head);
    ASSERT_NE(root, nullptr);
    tinyxml2::XMLElement* server = root->InsertNewChildElement("server");
    server->SetAttribute("name", CXmlMsg::g2u("总部").c_str());
    server->InsertNewChildElement("talker")->SetAttribute("userid", "alice");
    doc.InsertEndChild(root);

    BX_DATA out;
    const std::size_t length = xml.Doc2Buff(&out, doc);
    ASSERT_EQ(length, out.Length());
    EXPECT_EQ(out.buff, Utf8(u8"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             u8"<msg type=\"\" time=\"\" source=\"\" target=\"\" memo=\"\">\n"
                             u8"  <server name=\"总部\">\n"
                             u8"    <talker userid=\"alice\"/>\n"
                             u8"  </server>\n"
                             u8"</msg>\n"));

    // The same head built as a message gives the same first two lines.
    BX_DATA built{&head};
    ASSERT_GT(xml.BuildXml(&built), 0u);
    EXPECT_EQ(built.buff.substr(0, built.buff.find("  <body")), out.buff.substr(0, out.buff.find("  <server")));

    out.Free();
    EXPECT_EQ(out.Length(), 0u);
}

TEST(Document, HeadCarriesTheRoutedList)
{
    CMessageBase head;
    head.type = "user-talking";
    CTalkerServer hub;
    hub.name = "hub";
    head.AddRoutedServer(hub);
    CXmlMsg xml;
    tinyxml2::XMLDocument doc;
    const tinyxml2::XMLElement* root = xml.createXmlHead(doc, head);
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->Attribute("type"), "user-talking");
    const auto* routed = root->FirstChildElement("routed");
    ASSERT_NE(routed, nullptr);
    EXPECT_STREQ(routed->FirstChildElement("server")->Attribute("name"), "hub");
    EXPECT_EQ(doc.RootElement(), root);
}
