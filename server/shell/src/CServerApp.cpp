#include "quorvel_shell/CServerApp.h"

#include "quorvel_shell/CIniFile.h"
#include "quorvel_shell/CTerminalText.h"
#include "scrivlet/CLog4c.h"

#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace quorvel::shell {

using corvane::CConnectionLimits;
using service::CServiceLimits;
using store::CMsgCache;
using scrivlet::CLog4c;

namespace {

const char* const kSection = "SERVER";
const char* const kSendAllFriend = "SendAllFriend";
const char* const kLimits = "LIMITS";
// The largest count a [LIMITS] key of the message service takes.
constexpr std::uint64_t kMostCount = 1000000000;
// The largest buffer budget: 1 TiB.
constexpr std::uint64_t kMostBufferBytes = std::uint64_t{1} << 40;

// Allocations from this size on are mapped on their own (see
// ReturnLargeBuffersWhenFreed).
constexpr int kLargeBuffer = 256 * 1024;

// A folder that exists already, or cannot be made, is no error.
void MakeFolder(const std::string& path)
{
    ::mkdir(path.c_str(), 0755);
}

// Every connection takes a descriptor: the soft limit (often 1024) goes up
// to the hard one, the most the process may have.
void RaiseOpenFileLimit(CLog4c& log)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    const rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    log.LogEvent(0, "进程可打开的文件数上限已从 %llu 提高到 %llu", static_cast<unsigned long long>(before),
                 static_cast<unsigned long long>(limit.rlim_cur));
}

// Under load, connection buffers of up to 16 MiB (frames arriving, queues
// of frames to send) come and go by the hundred. After the first few the C
// library would serve them from its heap and keep what they free for the
// life of the process, so resident memory stayed near its peak long after
// the buffer budget let go. A fixed threshold maps each large buffer on its
// own and gives it back to the system when it is freed.
void ReturnLargeBuffersWhenFreed()
{
    ::mallopt(M_MMAP_THRESHOLD, kLargeBuffer);
}

} // namespace

bool CServerApp::InitInstance(CLog4c& log)
{
    std::string folder = ProgramFolder();
    if (folder.empty()) {
        CTerminalText::WriteLine(stderr, "cannot read the program's folder from /proc/self/exe");
        return false;
    }
    return InitInstance(log, folder);
}

bool CServerApp::InitInstance(CLog4c& log, const std::string& moduleDir)
{
    // Writes to closed connections must fail with an error, not end the process.
    if (std::signal(SIGPIPE, SIG_IGN) == SIG_ERR) {
        CTerminalText::WriteLine(stderr, "Windows 通信端口初始化失败。");
        return false;
    }
    moduleDir_ = moduleDir;
    tempDir_ = moduleDir_ + "/tmp";
    dataDir_ = moduleDir_ + "/data";
    const std::string logDir = moduleDir_ + "/log";
    MakeFolder(tempDir_);
    MakeFolder(dataDir_);
    MakeFolder(logDir);
    log.InitInstance(logDir);
    RaiseOpenFileLimit(log);
    ReturnLargeBuffersWhenFreed();

    MakeFolder(moduleDir_ + "/config");
    settingsPath_ = moduleDir_ + "/config/server.ini";
    sendAllFriend_ = IsPositiveNumber(ReadSetting(kSection, kSendAllFriend, "0"));
    const CMsgCache::Limits defaults;
    storeLimits_.compactBytes = ReadLimit("StoreCompactBytes", defaults.compactBytes, UINT32_MAX);
    storeLimits_.targetPendingBytes = ReadLimit("StoreTargetPendingBytes", defaults.targetPendingBytes, UINT32_MAX);
    storeLimits_.targetPendingMessages = static_cast<std::uint32_t>(
        ReadLimit("StoreTargetPendingMessages", defaults.targetPendingMessages, UINT32_MAX));
    limits_.maxListAnswerUsers = ReadLimit("MaxListAnswerUsers", CServiceLimits::kDefaultMaxListAnswerUsers, kMostCount);
    limits_.maxFriends = ReadLimit("MaxFriends", CServiceLimits::kDefaultMaxFriends, kMostCount);
    limits_.maxConnectionsPerUser =
        ReadLimit("MaxConnectionsPerUser", CServiceLimits::kDefaultMaxConnectionsPerUser, kMostCount);
    CConnectionLimits& connections = limits_.connections;
    connections.bufferBudgetBytes =
        ReadLimit("BufferBudgetBytes", CConnectionLimits::kDefaultBufferBudgetBytes, kMostBufferBytes);
    connections.maxConnectionsPerAddress =
        ReadLimit("MaxConnectionsPerAddress", CConnectionLimits::kDefaultMaxConnectionsPerAddress, kMostCount);
    connections.loginTimeout = std::chrono::seconds(
        ReadLimit("LoginTimeoutSeconds", static_cast<std::uint64_t>(CConnectionLimits::kDefaultLoginTimeout.count()), kMostCount));
    connections.framesPerTurn = ReadLimit("FramesPerTurn", CConnectionLimits::kDefaultFramesPerTurn, kMostCount);
    limits_.maxNeighbors = ReadLimit("MaxNeighbors", CServiceLimits::kDefaultMaxNeighbors, kMostCount);
    limits_.maxAnnouncedUsers =
        ReadLimit("MaxAnnouncedUsers", CServiceLimits::kDefaultMaxAnnouncedUsers, kMostCount);
    limits_.costlyRequestsPerConnection = ReadLimit(
        "CostlyRequestsPerConnection", CServiceLimits::kDefaultCostlyRequestsPerConnection, kMostCount);
    limits_.costlyRequestsPerAddress =
        ReadLimit("CostlyRequestsPerAddress", CServiceLimits::kDefaultCostlyRequestsPerAddress, kMostCount);
    return true;
}

// A whole number from 1 to `most` in [LIMITS]; anything else keeps the default.
std::uint64_t CServerApp::ReadLimit(const char* key, std::uint64_t defaultValue, std::uint64_t most) const
{
    const std::string text = ReadSetting(kLimits, key, "");
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    const bool whole = !text.empty() && text.find('-') == std::string::npos && *end == '\0' && errno == 0;
    return whole && value >= 1 && value <= most ? value : defaultValue;
}

int CServerApp::ExitInstance()
{
    WriteSettings();
    return 0;
}

std::string CServerApp::ReadSetting(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) const
{
    return CIniFile(settingsPath_).GetString(section, key, defaultValue);
}

bool CServerApp::WriteSettings() const
{
    return CIniFile(settingsPath_).SetString(kSection, kSendAllFriend, sendAllFriend_ ? "1" : "0");
}

std::string CServerApp::ProgramFolder()
{
    std::vector<char> buffer(4096);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size())
        return {};
    std::string path(buffer.data(), static_cast<std::size_t>(n));
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return {};
    return path.substr(0, slash);
}

bool CServerApp::IsPositiveNumber(const std::string& text)
{
    return std::strtol(text.c_str(), nullptr, 10) > 0;
}

} // namespace quorvel::shell
