#include "ConsoleTestSupport.h"

#include "quorvel_service/CChatServer.h"
#include "quorvel_test_support/ServerConfig.h"

using quorvel::service::CChatServer;
using quorvel::shell::CServerConsoleDlg;
using quorvel::testsupport::ServerConfig;

int FakeConsoleView::Count(const std::string& text) const
{
    int count = 0;
    for (const std::string& line : Lines())
        count += line.find(text) != std::string::npos ? 1 : 0;
    return count;
}

int FakeConsoleView::Find(const std::string& text, int from) const
{
    const std::vector<std::string> lines = Lines();
    for (int i = from; i < static_cast<int>(lines.size()); ++i)
        if (lines[static_cast<std::size_t>(i)].find(text) != std::string::npos)
            return i;
    return -1;
}

void ConsoleTest::SetUp()
{
    ASSERT_TRUE(app_.InitInstance(log_, dir_.Path().string()));
    console_ = std::make_unique<CServerConsoleDlg>(app_, log_, worker_, view_);
    OnLoop([this] { console_->OnInitDialog(nullptr); });
}

void ConsoleTest::TearDown()
{
    OnLoop([this] { console_.reset(); });
}

void ConsoleTest::Ticks(int count)
{
    OnLoop([this, count] {
        for (int i = 0; i < count; ++i)
            console_->OnTimer();
    });
}

bool ConsoleTest::Running()
{
    bool running = false;
    OnLoop([&] { running = console_->Host().Service() != nullptr; });
    return running;
}

unsigned ConsoleTest::ListeningPort()
{
    unsigned port = 0;
    OnLoop([&] {
        if (CChatServer* service = console_->Host().Service())
            port = service->ListeningPort();
    });
    return port;
}

void ConsoleTest::WriteDirectory(const std::string& name, const std::string& port,
                                 const std::vector<unsigned>& routes)
{
    ServerConfig config(name, port, "test");
    for (unsigned route : routes)
        config.AddRouteServer("route" + std::to_string(route), route);
    config.AddUser("alice", "pw", {}, "Alice").WriteTo(dir_.Path());
}
