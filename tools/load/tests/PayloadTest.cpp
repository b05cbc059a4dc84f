#include "CLoadPayload.h"

#include <marlune/CXmlMsg.h>
#include <quorvel_client/CClientIdentity.h>
#include <quorvel_client/CRequestBuilder.h>

#include <gtest/gtest.h>

using marlune::CMessageBase;
using marlune::CMessageTransFile;
using marlune::CXmlMsg;
using quorvel::client::CClientIdentity;
using quorvel::client::CRequestBuilder;
using quorvel::load::CLoadPayload;

namespace {

CRequestBuilder Builder(CClientIdentity& me)
{
    me.userId = "u7";
    me.server = "hub";
    return CRequestBuilder(me);
}

} // namespace

TEST(LoadPayloadTest, TemplatesGiveWhatTheLibraryBuildsAndParses)
{
    CClientIdentity me;
    const auto builder = Builder(me);
    auto chunk = builder.FileChunk(CLoadPayload::TargetPlaceholder(), "load.bin", 0, 0, "data",
                                   std::string(CLoadPayload::Placeholder()));
    CLoadPayload::Template file(*chunk);
    auto talk = builder.Talk(CLoadPayload::TargetPlaceholder(), CLoadPayload::Placeholder());
    CLoadPayload::Template chat(*talk);
    ASSERT_TRUE(file.Valid());
    ASSERT_TRUE(chat.Valid());

    const CLoadPayload::Mark mark{7, 123456789012ull, 42};
    const std::string bytes = file.With("bob@hub", mark);
    CXmlMsg xml;
    CMessageBase head(nullptr);
    auto parsed = xml.ParseXmlNew(bytes.data(), bytes.size(), &head);
    auto* piece = dynamic_cast<CMessageTransFile*>(parsed.get());
    ASSERT_NE(piece, nullptr);
    EXPECT_EQ(piece->target, "bob@hub");
    EXPECT_EQ(piece->source, "u7@hub");
    EXPECT_EQ(piece->data, "F7S123456789012T42");

    CLoadPayload::Mark back;
    ASSERT_TRUE(CLoadPayload::ReadMark(bytes, back));
    EXPECT_EQ(back.sender, 7u);
    EXPECT_EQ(back.seq, 123456789012ull);
    EXPECT_EQ(back.micros, 42u);
    EXPECT_EQ(CLoadPayload::TypeOf(bytes), "trans-file");
    EXPECT_EQ(CLoadPayload::TypeOf(chat.With("x@hub", mark)), "user-talking");
}

TEST(LoadPayloadTest, TemplateNeedsBothPlaceholders)
{
    CClientIdentity me;
    auto talk = Builder(me).Talk("bob@hub", CLoadPayload::Placeholder());
    EXPECT_FALSE(CLoadPayload::Template(*talk).Valid());
}

TEST(LoadPayloadTest, MarksAreReadOnlyFromBodyText)
{
    CLoadPayload::Mark m;
    EXPECT_FALSE(CLoadPayload::ReadMark("<msg type=\"user-talking\"><body format=\"\"/></msg>", m));
    EXPECT_FALSE(CLoadPayload::ReadMark("<msg type=\"user-talking\"><body format=\"\">hello</body></msg>", m));
    EXPECT_FALSE(CLoadPayload::ReadMark("<msg><body>F1S2</body></msg>", m));
    EXPECT_FALSE(CLoadPayload::ReadMark("<msg><body>F99999999999S2T3</body></msg>", m));
    EXPECT_TRUE(CLoadPayload::ReadMark("<msg><body a=\"F0S0T0\">F1S2T3</body></msg>", m));
    EXPECT_EQ(m.seq, 2u);
}

TEST(LoadPayloadTest, ReadsTheAnsweringServerAndAttributes)
{
    const std::string reply =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><msg type=\"user-login\" time=\"t\" source=\"a\" target=\"\" "
        "memo=\"\"><routed><server name=\"far\"/><server name=\"hub\"/></routed><body userid=\"a\" "
        "result=\"success\"/></msg>";
    EXPECT_EQ(CLoadPayload::LastRoutedServer(reply), "hub");
    EXPECT_EQ(CLoadPayload::Attribute(reply, "result"), "success");
    EXPECT_EQ(CLoadPayload::Attribute(reply, "missing"), "");
    EXPECT_EQ(CLoadPayload::LastRoutedServer("<msg type=\"x\"><body/></msg>"), "");
    EXPECT_EQ(CLoadPayload::TypeOf("not xml"), "");
}
