#include "HubResponder.h"
#include "TestListener.h"

#include "TestText.h"

#include "quorvel_test_support/TempFolder.h"

#include <marlune/Marlune.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <sys/wait.h>

using marlune::CMessageBase;
using marlune::CMessageTransFile;
using marlune::CMessageUserLogin;
using marlune::CXmlMsg;
using quorvel::testsupport::TempFolder;

namespace fs = std::filesystem;

namespace {

// Runs quorvel-client in a folder of its own with a script, bounded in time.
class ClientProgramTest : public ::testing::Test {
protected:
    // Exit status of the program run with `options` on `script`, given as
    // --script or, with viaStdin, on standard input.
    int Run(const std::string& script, const std::string& options, unsigned port, bool viaStdin = false)
    {
        std::ofstream(folder / "script.txt") << script;
        const std::string input = viaStdin ? " <script.txt" : " --script script.txt";
        const std::string command = "cd '" + folder.string() + "' && timeout 30 '" QUORVEL_CLIENT_PROGRAM "' " +
                                    options + input + " 127.0.0.1 " + std::to_string(port) +
                                    " >out.txt 2>err.txt";
        const int status = std::system(command.c_str());
        out = ReadFile(folder / "out.txt");
        err = ReadFile(folder / "err.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempFolder temp{"quorvel-client-run"};
    const fs::path& folder = temp.Path();
    std::string out;
    std::string err;
};

} // namespace

TEST_F(ClientProgramTest, ScriptRunsAndPrintsOneLinePerMessage)
{
    ListenerFixture server(HubResponder());
    const int status = Run("# a session\n"
                           "login alice secret\n"
                           "expect user-login\n"
                           "say bob hello\n"
                           "expect user-talking\n"
                           "frobnicate\n"
                           "quit\n"
                           "say bob never sent\n",
                           "", server.Port());
    EXPECT_EQ(status, 4) << err;
    EXPECT_EQ(out, "user-login from alice: alice success\n"
                   "user-talking from bob@hub to alice@hub: hello back\n");
    EXPECT_EQ(err, "error: unknown command \"frobnicate\" (try help)\n");
    EXPECT_EQ(server.Listener().Payloads().size(), 2u);
}

TEST_F(ClientProgramTest, JsonLinesAndAFileSent)
{
    ListenerFixture server(HubResponder());
    std::ofstream(folder / "note.txt") << "file body";
    const int status = Run("login alice secret\nexpect user-login\nfile bob note.txt", "--json --linger 0",
                           server.Port(), true);
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(out.rfind(R"({"type":"user-login","time":")", 0), 0u) << out;
    EXPECT_NE(out.find(R"("body":{"userid":"alice","password":"secret","statu":"online")"), std::string::npos);
    EXPECT_EQ(err, "sent note.txt (9 bytes, 1 chunks) to bob@hub\n");
    ASSERT_TRUE(WaitUntil([&] { return server.Listener().Payloads().size() == 2; }));
    auto chunk = CXmlMsg().ParseXmlNew(server.Listener().Payloads()[1].data(), server.Listener().Payloads()[1].size(),
                                      nullptr);
    auto* file = dynamic_cast<CMessageTransFile*>(chunk.get());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->file, "note.txt");
    EXPECT_EQ(file->size, "9");
    EXPECT_EQ(file->offset, "0");
    EXPECT_EQ(file->action, "end");
    EXPECT_EQ(file->data, "ZmlsZSBib2R5");
}

TEST_F(ClientProgramTest, AFileSentAndReceivedBackIsByteIdentical)
{
    ListenerFixture server(HubResponder());
    std::string bytes(1024 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7919 % 251);
    std::ofstream(folder / "big.bin", std::ios::binary) << bytes;
    std::string script = "login alice secret\nexpect user-login\nfile bob big.bin\n";
    for (int i = 0; i < 6; ++i)
        script += "expect trans-file\n";
    EXPECT_EQ(Run(script + "quit\n", "", server.Port()), 0) << err;
    EXPECT_NE(out.find("\nsaved file big.bin.1 (1048583 bytes) from bob@hub\n"), std::string::npos) << out;
    EXPECT_EQ(ReadFile(folder / "big.bin.1"), bytes);
    EXPECT_FALSE(fs::exists(folder / "big.bin.part"));
}

TEST_F(ClientProgramTest, ExitStatusTellsHowTheSessionEnded)
{
    ListenerFixture server(HubResponder());
    EXPECT_EQ(Run("login alice secret\nexpect user-infor 0.2\nsay bob not sent\n", "", server.Port()), 3);
    EXPECT_EQ(err, "error: no user-infor message arrived in time\n");

    EXPECT_EQ(Run("login alice wrong\nexpect user-login\n", "--linger 0", server.Port()), 4);
    EXPECT_EQ(err, "error: login refused for alice\n");

    EXPECT_EQ(Run("", "--bogus", server.Port()), 2);
    EXPECT_EQ(Run("", "--help", server.Port()), 0);
    EXPECT_EQ(out.rfind("usage: quorvel-client ", 0), 0u) << out;
    EXPECT_EQ(err, "");
    EXPECT_EQ(Run("", "", 0), 2);

    unsigned closedPort = 0;
    {
        ListenerFixture gone(nullptr);
        closedPort = gone.Port();
    }
    EXPECT_EQ(Run("heart\n", "", closedPort), 1);
    EXPECT_EQ(err, "error: cannot connect to 127.0.0.1:" + std::to_string(closedPort) + "\n");
}

TEST_F(ClientProgramTest, CommandsAfterALoginWaitForItsAnswer)
{
    // The stand-in answers a login only after a while, as a busy server may.
    ListenerFixture server([hub = HubResponder()](CMessageBase& received) {
        if (received.type == CMessageUserLogin::kType)
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return hub(received);
    });
    EXPECT_EQ(Run("login alice secret\nsay bob hello\nquit\n", "--linger 0", server.Port()), 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(server.Listener().Payloads().size(), 2u);

    // A refused login fails each command that needs it; the end of the
    // input waits for the answer, so the status tells.
    EXPECT_EQ(Run("login alice wrong\nsay bob hi\nonline\n", "--linger 0", server.Port()), 4);
    EXPECT_EQ(err, "error: login refused for alice\n"
                   "error: not logged in: the login was refused\n"
                   "error: not logged in: the login was refused\n");
    EXPECT_EQ(Run("login alice wrong\n", "--linger 0", server.Port(), true), 4);
    EXPECT_EQ(server.Listener().Payloads().size(), 4u);
}

TEST_F(ClientProgramTest, LostConnectionEndsTheSession)
{
    ListenerFixture server(HubResponder());
    std::thread closer([&] {
        WaitUntil([&] { return !server.Listener().Payloads().empty(); });
        server.CloseClients();
    });
    const int status = Run("login alice secret\nwait 20\nsay bob too late\n", "", server.Port());
    closer.join();
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("error: the server closed the connection\n"), std::string::npos) << err;
    EXPECT_EQ(server.Listener().Payloads().size(), 1u);
}
