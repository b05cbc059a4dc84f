// quorveld out of file descriptors: connections beyond the limit wait in
// the listen queue without the loop spinning, and are served once
// descriptors are free again.

#include "QuorveldService.h"
#include "ServiceTestSupport.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <fstream>
#include <memory>
#include <sstream>

using quorvel::testsupport::FreePort;
using quorvel::testsupport::QuorveldProcess;
using quorvel::testsupport::TempFolder;

using namespace std::chrono_literals;

namespace {

// CPU time (user + system) the process with `pid` has used, in clock ticks.
long CpuTicks(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i)
        fields >> skip;
    long user = 0;
    long system = 0;
    fields >> user >> system;
    return user + system;
}

// Descriptors the process with `pid` has open.
std::size_t OpenDescriptors(int pid)
{
    std::error_code error;
    std::size_t count = 0;
    for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
         !error && it != end; it.increment(error))
        ++count;
    return count;
}

TEST(QuorveldResources, AcceptingStopsCleanlyAtTheFileLimitAndResumes)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own";
#endif
    TempFolder dir;
    const unsigned port = FreePort();
    WriteHubDirectory(dir.Path(), port, {"alice"});
    QuorveldProcess quorveld(dir.Path());
    ASSERT_TRUE(StartService(quorveld, port)) << quorveld.Output();
    // The program raises its soft limit to the hard one at start-up; both
    // come down to 64 descriptors once it runs.
    const rlimit tight{64, 64};
    ASSERT_EQ(::prlimit(quorveld.Pid(), RLIMIT_NOFILE, &tight, nullptr), 0);

    OutputDrain drain(quorveld);
    std::vector<std::unique_ptr<TestClient>> crowd;
    for (int i = 0; i < 100; ++i) {
        crowd.push_back(std::make_unique<TestClient>(port));
        ASSERT_TRUE(crowd.back()->Open());
    }
    std::this_thread::sleep_for(500ms);
    // The server took what its limit allows (64, and the few it inherited
    // above it); the rest wait in the queue.
    EXPECT_LT(OpenDescriptors(quorveld.Pid()), 80u);
    const long before = CpuTicks(quorveld.Pid());
    std::this_thread::sleep_for(2s);
    const long spent = CpuTicks(quorveld.Pid()) - before;
    // A loop that spun on the ready listener would use the whole 2 s (200
    // ticks); retrying every 100 ms costs next to nothing.
    EXPECT_LT(spent, 50) << "ticks used while out of descriptors";

    crowd.clear();
    TestClient alice(port);
    EXPECT_EQ(alice.Login("alice", "pw-alice"), "success");
    EXPECT_TRUE(quorveld.Running());
}

} // namespace
