// The message store of a running quorveld under faults: the process killed
// during a burst of stored messages, and a data folder that fills up.

#include "CacheTestSupport.h"
#include "QuorveldService.h"
#include "ServiceTestSupport.h"

#include "marlune/Marlune.h"

#include <gtest/gtest.h>

#include <sys/mount.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

using marlune::CMessageUserTalking;
using quorvel::testsupport::FreePort;
using quorvel::testsupport::QuorveldProcess;
using quorvel::testsupport::TempFolder;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kStoredLine = "缓存消息写入长度:";

bool SayTo(TestClient& client, const std::string& target, const std::string& text)
{
    CMessageUserTalking talking;
    talking.type = CMessageUserTalking::kType;
    talking.source = "alice@hub";
    talking.target = target;
    talking.text = text;
    return client.Send(talking);
}

// Logs `user` in and collects the texts of the chat messages delivered to it
// until `expected` came and one more delivery cycle passed, or nothing came
// for a while.
std::vector<std::string> DeliveredTexts(unsigned port, const std::string& user, std::size_t expected)
{
    TestClient client(port);
    EXPECT_EQ(client.Login(user, "pw-" + user), "success");
    std::vector<std::string> texts;
    std::chrono::milliseconds limit = 10s;
    while (auto payload = client.ReceiveFrame(limit)) {
        auto message = Parse(*payload);
        if (auto* talking = dynamic_cast<CMessageUserTalking*>(message.get()))
            texts.push_back(talking->text);
        if (texts.size() >= expected)
            limit = 2500ms;   // long enough for a duplicate to show
    }
    return texts;
}

// "m0", "m1", ... "m<count-1>".
std::vector<std::string> Numbered(std::size_t count)
{
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < count; ++i)
        texts.push_back("m" + std::to_string(i));
    return texts;
}

TEST(QuorveldStoreFaults, KilledDuringABurstDeliversEveryStoredMessageOnceAfterRestart)
{
    TempFolder dir;
    const unsigned port = FreePort();
    WriteHubDirectory(dir.Path(), port, {"alice", "bob"});
    const std::string stored = TerminalText(kStoredLine);
    int logged = 0;
    int sent = 0;
    {
        QuorveldProcess quorveld(dir.Path());
        ASSERT_TRUE(StartService(quorveld, port)) << quorveld.Output();
        TestClient alice(port);
        ASSERT_EQ(alice.Login("alice", "pw-alice"), "success");
        std::atomic<bool> stop{false};
        std::thread burst([&] {
            for (int i = 0; i < 20000 && !stop; ++i) {
                if (!SayTo(alice, "bob@hub", "m" + std::to_string(i)))
                    break;
                sent = i + 1;
            }
        });
        const bool reached = quorveld.WaitForOutput(stored, 60s, 300);
        quorveld.Signal(SIGKILL);
        stop = true;
        burst.join();
        ASSERT_TRUE(reached) << quorveld.Output().substr(0, 4000);
        ASSERT_NE(quorveld.WaitForExit(10s), -1);
        // Everything the process printed before it died is still in the pipe.
        quorveld.WaitForOutput("\x01never printed", 2s);
        logged = quorveld.Occurrences(stored);
    }
    ASSERT_GE(logged, 300);
    ASSERT_LT(logged, sent) << "the kill came after the burst";
    // What the kill left on disk: the head counts the records whose writing
    // finished; records beyond it may be whole or torn. The log lines lag
    // behind the writes, so they are a lower bound as well.
    const std::vector<std::uint8_t> index = ReadBytes((dir / "data/msg_index.dat").string());
    ASSERT_GE(index.size(), 8u);
    const std::size_t counted = U32At(index, 0);
    const std::size_t written = (index.size() - 8) / 132;
    ASSERT_GE(counted, static_cast<std::size_t>(logged));
    ASSERT_GE(written, counted);

    QuorveldProcess again(dir.Path());
    ASSERT_TRUE(StartService(again, port)) << again.Output();
    std::vector<std::string> texts;
    {
        OutputDrain drain(again);
        texts = DeliveredTexts(port, "bob", counted);
    }
    // Every counted message arrives, in order, once; of those written beyond
    // the count, the whole ones may arrive too.
    ASSERT_GE(texts.size(), counted);
    EXPECT_LE(texts.size(), written);
    EXPECT_EQ(texts, Numbered(texts.size()));
}

// A tmpfs of 64 KiB mounted on a folder for the object's lifetime. Mounting
// needs privileges; Mounted() says whether it worked.
class TinyFilesystem {
public:
    explicit TinyFilesystem(const fs::path& at) : at_(at)
    {
        fs::create_directories(at_);
        mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") == 0;
        if (!mounted_)
            error_ = std::strerror(errno);
    }
    ~TinyFilesystem()
    {
        if (mounted_)
            ::umount2(at_.c_str(), MNT_DETACH);
    }
    TinyFilesystem(const TinyFilesystem&) = delete;
    TinyFilesystem& operator=(const TinyFilesystem&) = delete;
    bool Mounted() const { return mounted_; }
    const std::string& Error() const { return error_; }

private:
    fs::path at_;
    bool mounted_ = false;
    std::string error_;
};

TEST(QuorveldStoreFaults, FullDataFolderLogsTheLossAndKeepsServingAndTheStoredMessages)
{
    TempFolder dir;
    TinyFilesystem data(dir / "data");
    if (!data.Mounted())
        GTEST_SKIP() << "cannot mount a tmpfs for the data folder (" << data.Error() << "); needs root";
    const unsigned port = FreePort();
    WriteHubDirectory(dir.Path(), port, {"alice", "bob", "carol"});
    QuorveldProcess quorveld(dir.Path());
    ASSERT_TRUE(StartService(quorveld, port)) << quorveld.Output();

    TestClient alice(port);
    ASSERT_EQ(alice.Login("alice", "pw-alice"), "success");
    const std::string padding(1000, 'x');
    const int count = 120;   // about twice what the folder holds
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(SayTo(alice, "bob@hub", "m" + std::to_string(i) + " " + padding));
    // Each message is logged as stored or as not stored; those not stored
    // come last.
    const std::string stored = TerminalText(kStoredLine);
    const std::string failed = TerminalText("缓存消息写入失败");
    while (quorveld.Occurrences(stored) + quorveld.Occurrences(failed) < count)
        ASSERT_TRUE(quorveld.WaitForOutput(failed, 30s, quorveld.Occurrences(failed) + 1)) << quorveld.Output();
    const int kept = quorveld.Occurrences(stored);
    EXPECT_GT(kept, 10);

    // Logins and queries are still answered.
    OutputDrain drain(quorveld);
    TestClient carol(port);
    EXPECT_EQ(carol.Login("carol", "pw-carol"), "success");
    EXPECT_EQ(TestClient(port).Login("carol", "wrong"), "failed");
    ASSERT_TRUE(carol.Sync().has_value());

    // Every message stored before the disk filled reaches its user, whole.
    const std::vector<std::string> texts = DeliveredTexts(port, "bob", static_cast<std::size_t>(kept));
    ASSERT_EQ(texts.size(), static_cast<std::size_t>(kept));
    for (int i = 0; i < kept; ++i)
        EXPECT_EQ(texts[i], "m" + std::to_string(i) + " " + padding);
}

} // namespace
