#include "CMetricsEndpoint.h"

#include "CMetricsText.h"
#include "quorvel_shell/CServerApp.h"
#include "scrivlet/CLog4c.h"

#include <httplib.h>

#include <sys/socket.h>

#include <chrono>
#include <cstdlib>

namespace quorvel::metrics {

using host::CServerStatus;
using service::CServiceCounters;
using shell::CServerApp;
using scrivlet::CLog4c;

namespace {

constexpr int kError = 2;
// Scrapes are small and rare: two threads serve them, a request body is
// refused, and idle connections close soon so a stop never waits long.
constexpr std::size_t kServingThreads = 2;
constexpr std::size_t kMaxRequestBody = 1024;
constexpr std::chrono::seconds kIdleLimit{1};
constexpr std::chrono::seconds kReadLimit{5};
constexpr std::chrono::milliseconds kStopPoll{10};

unsigned PortSetting(const std::string& text)
{
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    const bool whole = !text.empty() && text.find('-') == std::string::npos && *end == '\0';
    return whole && value >= 1 && value <= 65535 ? static_cast<unsigned>(value) : 0;
}

} // namespace

CMetricsEndpoint::Settings CMetricsEndpoint::ReadSettings(const CServerApp& app)
{
    Settings settings;
    settings.port = PortSetting(app.ReadSetting("METRICS", "Port", ""));
    settings.address = app.ReadSetting("METRICS", "Address", settings.address);
    if (settings.address.empty())
        settings.address = Settings{}.address;
    return settings;
}

CMetricsEndpoint::CMetricsEndpoint(CLog4c& log, std::shared_ptr<const CServiceCounters> counters)
    : log_(log),
      counters_(std::move(counters)),
      latest_(std::make_shared<CServerStatus::Snapshot>())
{}

CMetricsEndpoint::~CMetricsEndpoint()
{
    Stop();
}

bool CMetricsEndpoint::Start(const Settings& settings)
{
    Stop();
    if (settings.port == 0)
        return false;
    auto server = std::make_unique<httplib::Server>();
    server->new_task_queue = [] { return new httplib::ThreadPool(kServingThreads); };
    server->set_payload_max_length(kMaxRequestBody);
    server->set_keep_alive_timeout(kIdleLimit.count());
    server->set_read_timeout(kReadLimit);
    // The library's default adds SO_REUSEPORT, with which a second program
    // could bind the same port and take half the scrapes: only a restart's
    // leftover connections may share the address.
    server->set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content(Scrape(), CMetricsText::kContentType);
    });
    if (!server->bind_to_port(settings.address, static_cast<int>(settings.port))) {
        log_.LogEvent(kError, "性能指标服务监听 %.100s:%u 失败", settings.address.c_str(), settings.port);
        return false;
    }
    server_ = std::move(server);
    port_ = settings.port;
    serving_ = true;
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        serving_ = false;
    });
    log_.LogEvent(0, "性能指标服务开始监听(地址:%.100s 端口:%u)", settings.address.c_str(), settings.port);
    return true;
}

void CMetricsEndpoint::Stop()
{
    if (!server_)
        return;
    // A stop that comes before the thread began listening would be lost:
    // it is repeated until the thread has left its loop.
    while (serving_) {
        server_->stop();
        std::this_thread::sleep_for(kStopPoll);
    }
    thread_.join();
    server_.reset();
    port_ = 0;
}

void CMetricsEndpoint::Publish(const CServerStatus::Snapshot& snapshot)
{
    auto copy = std::make_shared<const CServerStatus::Snapshot>(snapshot);
    std::lock_guard lock(mutex_);
    latest_ = std::move(copy);
}

std::string CMetricsEndpoint::Scrape() const
{
    std::shared_ptr<const CServerStatus::Snapshot> latest;
    {
        std::lock_guard lock(mutex_);
        latest = latest_;
    }
    CServerStatus::Snapshot snapshot = *latest;
    snapshot.counters = counters_->Read();
    return CMetricsText::Render(snapshot);
}

} // namespace quorvel::metrics
