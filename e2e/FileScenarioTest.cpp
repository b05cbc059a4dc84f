// A 1 MiB file between two users: sent live by the quorvel-client program,
// and stored for a user who is away and fetched by the program later.

#include "TwoUserHub.h"

#include <marlune/Marlune.h>
#include <quorvel_client/CBase64.h>
#include <quorvel_client/CFileChunker.h>
#include <quorvel_client/CFileReceiver.h>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <random>

using marlune::CMessageTransFile;
using quorvel::client::CBase64;
using quorvel::client::CFileChunker;
using quorvel::client::CFileReceiver;
using quorvel::testsupport::TempFolder;

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFileSize = 1024 * 1024;

// Bytes of every value, in no pattern a transfer could get right by luck.
std::string RandomBytes(std::size_t size)
{
    std::mt19937 random(20261207);
    std::string bytes(size, '\0');
    for (auto& byte : bytes)
        byte = static_cast<char>(random() & 0xFF);
    return bytes;
}

// Runs quorvel-client in `folder` on `script` against `port`, bounded in
// time; its exit status (-1 when it did not exit), with `err` set to what it
// wrote on standard error. Its standard output is left in out.txt there.
int RunClientProgram(const fs::path& folder, const std::string& script, unsigned port, std::string& err)
{
    TempFolder::Write(folder / "script.txt", script);
    const std::string command = "cd '" + folder.string() + "' && timeout 60 '" QUORVEL_CLIENT_PROGRAM
                                "' --linger 0 --script script.txt 127.0.0.1 " +
                                std::to_string(port) + " >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    err = TempFolder::Read(folder / "err.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class FileScenario : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(hub_.Start()) << hub_.Output();
        TempFolder::Write(work_ / "big.bin", bytes_);
    }
    void TearDown() override { EXPECT_TRUE(hub_.Exit()) << hub_.Output(); }

    TwoUserHub cast_;
    ServerUnderTest& hub_ = cast_.hub;
    TempFolder work_;
    const std::string bytes_ = RandomBytes(kFileSize);
};

TEST_F(FileScenario, AFileSentByTheClientProgramArrivesByteIdentical)
{
    ScenarioUser& bob = cast_.bob;
    ASSERT_TRUE(bob.LogIn());

    // The answer to "online" comes after the server handled every chunk.
    std::string err;
    ASSERT_EQ(RunClientProgram(work_.Path(),
                               "login alice alice-pw\nexpect user-login\nfile bob@hub big.bin\n"
                               "online\nexpect user-list\nquit\n",
                               hub_.Port(), err),
              0)
        << err << hub_.Output();

    TempFolder inbox;
    CFileReceiver receiver(inbox.Path());
    CFileReceiver::Outcome outcome;
    int chunks = 0;
    while (outcome.status != CFileReceiver::Status::kSaved) {
        auto chunk = bob.Next<CMessageTransFile>();
        ASSERT_TRUE(chunk) << "after " << chunks << " chunks\n" << hub_.Output();
        EXPECT_EQ(chunk->source, "alice@hub");
        outcome = receiver.Accept(*chunk);
        ASSERT_NE(outcome.status, CFileReceiver::Status::kRefused) << outcome.detail;
        ++chunks;
    }
    EXPECT_EQ(chunks, 6);
    EXPECT_EQ(outcome.saved, inbox / "big.bin");
    EXPECT_TRUE(TempFolder::Read(outcome.saved) == bytes_);
}

TEST_F(FileScenario, AFileForAUserAwayIsStoredAndFetchedByTheClientProgram)
{
    ScenarioUser& alice = cast_.alice;
    ASSERT_TRUE(alice.LogIn());
    CFileChunker chunker;
    std::string error;
    ASSERT_TRUE(chunker.Open(work_ / "big.bin", error)) << error;
    CFileChunker::Chunk chunk;
    while (chunker.Next(chunk, error))
        ASSERT_TRUE(alice.Send(alice.Client().Builder().FileChunk("bob@hub", chunker.Name(), chunker.Size(),
                                                                  chunk.offset, chunk.Action(),
                                                                  CBase64::Encode(chunk.bytes))));
    ASSERT_TRUE(error.empty()) << error;
    ASSERT_TRUE(alice.Sync());

    TempFolder inbox;
    std::string script = "login bob bob-pw\nexpect user-login\n";
    for (int i = 0; i < 6; ++i)
        script += "expect trans-file 15\n";
    ASSERT_EQ(RunClientProgram(inbox.Path(), script + "quit\n", hub_.Port(), error), 0) << error << hub_.Output();
    const std::string out = TempFolder::Read(inbox / "out.txt");
    EXPECT_NE(out.find("saved file big.bin (1048576 bytes) from alice@hub\n"), std::string::npos) << out;
    EXPECT_TRUE(TempFolder::Read(inbox / "big.bin") == bytes_);
}

} // namespace
