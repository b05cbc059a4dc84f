#include "TestText.h"

#include "quorvel_client/CClientOutput.h"
#include "quorvel_client/CClientSession.h"
#include "quorvel_test_support/TempFolder.h"

#include <marlune/Marlune.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <vector>

using marlune::BX_DATA;
using marlune::CMessageBase;
using marlune::CMessageChangeStatu;
using marlune::CMessageTransFile;
using marlune::CMessageUserFriend;
using marlune::CMessageUserInfor;
using marlune::CMessageUserLogin;
using marlune::CMessageUserReg;
using marlune::CMessageUserTalking;
using marlune::CXmlMsg;
using quorvel::testsupport::TempFolder;
using quorvel::client::CClientOutput;
using quorvel::client::CClientSession;

namespace {

std::string Xml(CMessageBase& msg)
{
    BX_DATA bx(&msg);
    CXmlMsg().BuildXml(&bx);
    return bx.buff;
}

class SessionTest : public ::testing::Test {
protected:
    explicit SessionTest(bool json = false)
        : output(lines, errors)
    {
        session = std::make_unique<CClientSession>(
            [this](CMessageBase& msg) {
                sent.push_back(CXmlMsg().ParseXmlNew(Xml(msg).data(), Xml(msg).size(), nullptr));
                return true;
            },
            output, json, folder);
    }
    ~SessionTest() override { session.reset(); }

    void Deliver(CMessageBase& msg)
    {
        const std::string xml = Xml(msg);
        session->Receive(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size());
    }

    // Logs in as alice; the server "hub" answers.
    void LogIn()
    {
        session->Execute("login alice secret");
        CMessageUserLogin reply;
        reply.userId = "alice";
        reply.result = "success";
        reply.routedServers.emplace_back().name = "hub";
        Deliver(reply);
        lines.str("");
    }

    template <class T>
    T& Last()
    {
        auto* typed = dynamic_cast<T*>(sent.back().get());
        EXPECT_NE(typed, nullptr);
        return *typed;
    }

    TempFolder temp{"quorvel-session"};
    const std::filesystem::path& folder = temp.Path();
    std::ostringstream lines;
    std::ostringstream errors;
    CClientOutput output;
    std::vector<std::unique_ptr<CMessageBase>> sent;
    std::unique_ptr<CClientSession> session;
};

class JsonSessionTest : public SessionTest {
protected:
    JsonSessionTest() : SessionTest(true) {}
};

} // namespace

TEST_F(SessionTest, LoginReplyNamesTheServerAndBareAddressesUseIt)
{
    session->Execute("say bob hi");
    EXPECT_EQ(errors.str(), "error: not logged in (use login first)\n");
    EXPECT_TRUE(sent.empty());

    LogIn();
    EXPECT_EQ(session->Identity().Address(), "alice@hub");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Last<CMessageUserLogin>().statu, "online");

    session->Execute(Utf8(u8"say bob   你好  world "));
    auto& talk = Last<CMessageUserTalking>();
    EXPECT_EQ(talk.source, "alice@hub");
    EXPECT_EQ(talk.target, "bob@hub");
    EXPECT_EQ(CXmlMsg::g2u(talk.text), Utf8(u8"你好  world"));
    session->Execute("say carol@far \"quoted  text\"");
    EXPECT_EQ(Last<CMessageUserTalking>().target, "carol@far");
    EXPECT_EQ(Last<CMessageUserTalking>().text, "quoted  text");
    session->Execute("modify Alice F newpw 123");
    EXPECT_EQ(Last<CMessageUserReg>().userId, "alice");
    EXPECT_EQ(Last<CMessageUserReg>().modify, "true");
}

TEST_F(SessionTest, RefusalsAndMistakesAreOneErrorLineEach)
{
    session->Execute("login bob wrong");
    CMessageUserLogin reply;
    reply.userId = "bob";
    reply.result = "failed";
    Deliver(reply);
    EXPECT_FALSE(session->Identity().LoggedIn());
    EXPECT_EQ(lines.str(), "user-login: bob failed\n");

    session->Execute("frobnicate");
    session->Execute("register onlyid");
    session->Execute("say \"open");
    EXPECT_EQ(errors.str(), "error: login refused for bob\n"
                            "error: unknown command \"frobnicate\" (try help)\n"
                            "error: usage: register ID NAME SEX PASSWORD TEL\n"
                            "error: unterminated quote\n");
    EXPECT_EQ(session->Execute("QUIT"), CClientSession::Step::kQuit);
}

TEST_F(SessionTest, AcceptAnswersTheRequestReceived)
{
    LogIn();
    session->Execute("accept bob");
    EXPECT_EQ(errors.str(), "error: no friend request from bob@hub\n");

    CMessageUserFriend request;
    request.source = "bob@hub";
    request.target = "alice@hub";
    request.asker.userId = "bob";
    request.asker.serverName = "hub";
    request.asked.userId = "alice";
    request.asked.serverName = "hub";
    request.routedServers.emplace_back().name = "hub";
    Deliver(request);
    session->Execute("accept bob@hub");
    auto& accept = Last<CMessageUserFriend>();
    EXPECT_EQ(accept.target, "bob@hub");
    EXPECT_EQ(accept.result, "success");
    EXPECT_EQ(accept.asker.userId, "bob");
    EXPECT_EQ(accept.asked.userId, "alice");
    EXPECT_TRUE(accept.routedServers.empty());
    const std::size_t count = sent.size();
    session->Execute("accept bob");
    EXPECT_EQ(sent.size(), count);
}

TEST_F(SessionTest, ReceivedMessagesAreCountedAndPrinted)
{
    const std::string garbage = "<msg";
    session->Receive(reinterpret_cast<const std::uint8_t*>(garbage.data()), garbage.size());
    const std::string unknown = R"(<msg type="group-chat" source="x@hub"/>)";
    session->Receive(reinterpret_cast<const std::uint8_t*>(unknown.data()), unknown.size());
    CMessageChangeStatu statu;
    statu.userId = "bob";
    statu.server = "hub";
    statu.statu = "false";
    Deliver(statu);
    EXPECT_EQ(session->ReceivedCount(""), 1u);
    EXPECT_EQ(session->ReceivedCount("group-chat"), 1u);
    EXPECT_EQ(session->ReceivedCount("user-changestatu"), 1u);
    std::istringstream printed(lines.str());
    std::string line;
    std::getline(printed, line);
    EXPECT_EQ(line.rfind("unreadable message of 4 bytes: ", 0), 0u) << line;
    std::getline(printed, line);
    EXPECT_EQ(line, "group-chat from x@hub: message of an unknown type");
    std::getline(printed, line);
    EXPECT_EQ(line, "user-changestatu: bob@hub is now offline");
}

TEST_F(SessionTest, CommandsWaitForOutstandingAnswers)
{
    EXPECT_EQ(session->Execute("login alice secret"), CClientSession::Step::kContinue);
    EXPECT_TRUE(session->AnswersDue());
    EXPECT_EQ(session->Execute("say bob hi"), CClientSession::Step::kWait);
    EXPECT_EQ(session->Execute("help"), CClientSession::Step::kContinue);
    errors.str("");
    EXPECT_EQ(sent.size(), 1u);
    CMessageUserLogin reply;
    reply.userId = "alice";
    reply.result = "success";
    reply.routedServers.emplace_back().name = "hub";
    Deliver(reply);
    EXPECT_FALSE(session->AnswersDue());
    EXPECT_EQ(session->Execute("say bob hi"), CClientSession::Step::kContinue);
    EXPECT_EQ(Last<CMessageUserTalking>().target, "bob@hub");

    session->Execute("register carol Carol F pw 555");
    EXPECT_EQ(session->Execute("info carol"), CClientSession::Step::kWait);
    session->AnswersOverdue();
    EXPECT_EQ(session->Execute("info carol"), CClientSession::Step::kContinue);
    EXPECT_EQ(errors.str(), "error: no answer to the registration came in time\n");
    EXPECT_EQ(session->Failures(), 1u);

    CMessageUserInfor unknown;
    unknown.user = "nobody@hub";
    Deliver(unknown);
    CMessageUserInfor known;
    known.user = "bob";
    known.name = "Bob";
    known.server = "hub";
    known.statu = "false";
    Deliver(known);
    EXPECT_EQ(lines.str().substr(lines.str().find("user-infor")),
              "user-infor: nobody@hub is unknown\n"
              "user-infor: bob \"Bob\" sex , tel , server hub, status offline; 0 friends\n");
}

TEST_F(JsonSessionTest, FileChunksAreSavedAndReportedAsJson)
{
    CMessageTransFile chunk;
    chunk.source = "bob@hub";
    chunk.file = "note.txt";
    chunk.size = "5";
    chunk.offset = "0";
    chunk.action = "end";
    chunk.data = "aGVsbG8=";
    Deliver(chunk);
    std::istringstream printed(lines.str());
    std::string line;
    std::getline(printed, line);
    EXPECT_EQ(line.rfind(R"({"type":"trans-file")", 0), 0u) << line;
    std::getline(printed, line);
    EXPECT_EQ(line, R"({"event":"file-saved","file":"note.txt","size":5,"source":"bob@hub"})");
    EXPECT_TRUE(std::filesystem::exists(folder / "note.txt"));
}
