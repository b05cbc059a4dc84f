#include "ServerUnderTest.h"

#include "quorvel_test_support/FreePort.h"

#include <signal.h>
#include <sys/wait.h>

#include <set>

using quorvel::testsupport::FreePort;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Long enough for a loaded machine under the sanitizers; a healthy run
// takes a fraction of it.
constexpr std::chrono::milliseconds kStepLimit = 30s;

// A free port that no other server of this test program was given: two
// servers made one after the other must not share one before either listens.
unsigned UnusedFreePort()
{
    static std::set<unsigned> given;
    unsigned port = FreePort();
    while (!given.insert(port).second)
        port = FreePort();
    return port;
}

} // namespace

const std::string ServerUnderTest::kStarted = Utf8(u8"INFOR 系统启动成功!\n");
const std::string ServerUnderTest::kServiceOn = Utf8(u8"INFOR 消息服务已经开启成功!\n");

std::string ServerUnderTest::Listening(unsigned port)
{
    return Utf8(u8"成功开始监听(端口号:") + std::to_string(port) + Utf8(u8")!\n");
}

ServerUnderTest::ServerUnderTest(std::string name)
    : name_(std::move(name)), port_(UnusedFreePort()), config_(name_, port_)
{
}

void ServerUnderTest::AddUser(const std::string& id, const std::string& password, const std::string& friends)
{
    config_.AddUser(id, password, friends);
}

void ServerUnderTest::AddRouteServer(const ServerUnderTest& other)
{
    AddRouteServer(other.Name(), other.Port());
}

void ServerUnderTest::AddRouteServer(const std::string& name, unsigned port)
{
    config_.AddRouteServer(name, port);
}

ServerUnderTest::~ServerUnderTest()
{
    StopReading();
}

bool ServerUnderTest::Start()
{
    if (process_)
        return false;
    if (!fs::exists(folder_ / "config/server.xml") && !config_.WriteTo(folder_.Path()))
        return false;
    process_.emplace(folder_.Path());
    if (!process_->Start())
        return false;
    StartReading();
    return WaitForOutput(kStarted) && Command("start", Listening(port_)) && WaitForOutput(kServiceOn);
}

void ServerUnderTest::StartReading()
{
    reading_ = true;
    reader_ = std::thread([this] {
        while (reading_) {
            {
                std::lock_guard lock(mutex_);
                // No NUL is ever printed: this reads whatever came, up to 10 ms.
                process_->WaitForOutput(std::string(1, '\0'), 10ms);
            }
            std::this_thread::sleep_for(2ms);
        }
    });
}

void ServerUnderTest::StopReading()
{
    reading_ = false;
    if (reader_.joinable())
        reader_.join();
}

bool ServerUnderTest::End(Ending how)
{
    if (!process_)
        return false;
    if (how == Ending::kExitCommand) {
        std::lock_guard lock(mutex_);
        process_->SendLine("exit");
    } else {
        process_->Signal(how == Ending::kSigterm ? SIGTERM : SIGKILL);
    }
    // Waiting touches only the process id; the reader keeps emptying the pipe.
    const int status = process_->WaitForExit(60s);
    StopReading();
    process_->WaitForOutput(std::string(1, '\0'), 5s);
    pastOutput_ += process_->Output();
    process_.reset();
    if (status == -1)
        return false;
    if (how == Ending::kSigkill)
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool ServerUnderTest::Command(const std::string& line, const std::string& text, int times)
{
    {
        std::lock_guard lock(mutex_);
        if (!process_ || !process_->SendLine(line))
            return false;
    }
    return WaitForOutput(text, times);
}

bool ServerUnderTest::WaitForOutput(const std::string& text, int times)
{
    const auto until = std::chrono::steady_clock::now() + kStepLimit;
    while (std::chrono::steady_clock::now() < until) {
        {
            std::lock_guard lock(mutex_);
            if (!process_)
                return false;
            if (process_->Occurrences(text) >= times)
                return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

int ServerUnderTest::Count(const std::string& text) const
{
    std::lock_guard lock(mutex_);
    return process_ ? process_->Occurrences(text) : 0;
}

std::string ServerUnderTest::Output() const
{
    std::lock_guard lock(mutex_);
    return pastOutput_ + (process_ ? process_->Output() : std::string());
}
