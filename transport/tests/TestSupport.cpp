#include "TestSupport.h"

#include <algorithm>

using corvane::ON_WS_DISCONNECTED;
using corvane::RAS_CALLBACK_PARA;
using quorvel::testsupport::ListenOnFreePort;

namespace {

std::mutex g_mutex;
std::vector<std::string> g_lines;
std::vector<std::string> g_payloads;

} // namespace

void Recorder::Log(const char* text)
{
    std::lock_guard lock(g_mutex);
    g_lines.emplace_back(text);
}

void Recorder::Receive(RAS_CALLBACK_PARA* para)
{
    std::lock_guard lock(g_mutex);
    g_payloads.emplace_back(reinterpret_cast<const char*>(para->data), para->length);
}

std::vector<std::string> Recorder::Lines()
{
    std::lock_guard lock(g_mutex);
    return g_lines;
}

std::vector<std::string> Recorder::Payloads()
{
    std::lock_guard lock(g_mutex);
    return g_payloads;
}

bool Recorder::HasLine(const std::string& text)
{
    return CountLines(text) > 0;
}

int Recorder::CountLines(const std::string& text)
{
    std::lock_guard lock(g_mutex);
    return static_cast<int>(std::count(g_lines.begin(), g_lines.end(), text));
}

void Recorder::Clear()
{
    std::lock_guard lock(g_mutex);
    g_lines.clear();
    g_payloads.clear();
}

std::string Frame(const std::string& payload, std::uint8_t version)
{
    std::string frame = RawConnection::Frame(payload);
    frame[16] = static_cast<char>(version);
    return frame;
}

void TestServer::OnWsDisconnected(ON_WS_DISCONNECTED* para)
{
    disconnectedIds.emplace_back(para->socket->userId);
    order.emplace_back("ws");
}

ServerFixture::ServerFixture(bool withCallbacks)
{
    Recorder::Clear();
    OnLoop([this, withCallbacks] {
        server = std::make_unique<TestServer>();
        if (withCallbacks) {
            server->SetLogEvent(&Recorder::Log);
            server->RegCallBackOnSckString(&Recorder::Receive);
        }
        port = ListenOnFreePort(*server);
    });
}

ServerFixture::~ServerFixture()
{
    OnLoop([this] { server.reset(); });
}
