// The metrics endpoint fetched over HTTP with a real client, in front of a
// real service on the console's loop.

#include "CMetricsEndpoint.h"
#include "CMetricsText.h"
#include "ConsoleTestSupport.h"
#include "quorvel_test_support/QuorveldProcess.h"
#include "quorvel_test_support/ServerConfig.h"
#include "quorvel_test_support/WaitUntil.h"
#include "ServiceTestSupport.h"

#include "marlune/Marlune.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <sstream>

using marlune::CMessageUserTalking;
using quorvel::host::CServerStatus;
using quorvel::metrics::CMetricsEndpoint;
using quorvel::metrics::CMetricsText;
using quorvel::testsupport::FreePort;
using quorvel::testsupport::ListeningSocket;
using quorvel::testsupport::QuorveldProcess;
using quorvel::testsupport::ServerConfig;
using quorvel::testsupport::TempFolder;
using quorvel::testsupport::WaitUntil;

using namespace std::chrono_literals;

namespace {

struct Answer {
    int status = 0;
    std::string contentType;
    std::string body;
};

Answer Get(unsigned port, const std::string& path)
{
    httplib::Client client("127.0.0.1", static_cast<int>(port));
    client.set_connection_timeout(5s);
    client.set_read_timeout(10s);
    Answer answer;
    if (auto result = client.Get(path.c_str())) {
        answer.status = result->status;
        answer.contentType = result->get_header_value("Content-Type");
        answer.body = result->body;
    }
    return answer;
}

// The value of the sample line "name{labels} value"; -1 when absent.
double Sample(const std::string& text, const std::string& sample)
{
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.size() > sample.size() && line.compare(0, sample.size(), sample) == 0 && line[sample.size()] == ' ')
            return std::stod(line.substr(sample.size() + 1));
    }
    return -1;
}

class MetricsEndpoint : public ConsoleTest {
protected:
    void TearDown() override
    {
        OnLoop([this] { console_->SetStatusSink(nullptr); });
        endpoint_.reset();
        ConsoleTest::TearDown();
    }
    // An endpoint on a free port fed by the console's ticks.
    unsigned StartEndpoint()
    {
        endpoint_ = std::make_unique<CMetricsEndpoint>(log_, console_->Host().Counters());
        CMetricsEndpoint::Settings settings;
        settings.port = FreePort();
        EXPECT_TRUE(endpoint_->Start(settings));
        OnLoop([this] {
            console_->SetStatusSink(
                [endpoint = endpoint_.get()](const CServerStatus::Snapshot& s) { endpoint->Publish(s); });
        });
        return settings.port;
    }
    // The body once `sample` has reached at least `value` (the counters are
    // read at each request); the last body after 20 s.
    std::string BodyWhen(unsigned port, const std::string& sample, double value)
    {
        std::string body;
        WaitUntil([&] { return Sample(body = Get(port, "/metrics").body, sample) >= value; }, 20s);
        return body;
    }

    std::unique_ptr<CMetricsEndpoint> endpoint_;
};

} // namespace

TEST_F(MetricsEndpoint, ServesTheNumbersOverHttpAndFollowsLoginsAndMessages)
{
    const unsigned servicePort = FreePort();
    WriteDirectory("hub", std::to_string(servicePort));
    OnLoop([this] { console_->StartMsgService(); });
    const unsigned port = StartEndpoint();
    EXPECT_EQ(endpoint_->Port(), port);
    Ticks(1);

    const Answer first = Get(port, "/metrics");
    ASSERT_EQ(first.status, 200);
    EXPECT_EQ(first.contentType.rfind("text/plain; version=0.0.4", 0), 0u) << first.contentType;
    EXPECT_EQ(Sample(first.body, "quorvel_listening"), 1);
    EXPECT_EQ(Sample(first.body, "quorvel_connections"), 0);
    EXPECT_EQ(Sample(first.body, "quorvel_logins_total{result=\"ok\"}"), 0);
    EXPECT_EQ(Sample(first.body, "quorvel_messages_stored_total"), 0);

    TestClient alice(servicePort);
    TestClient bob(servicePort);
    ASSERT_EQ(alice.Login("alice", "pw"), "success");
    ASSERT_EQ(bob.Login("bob", "bob-pw", true), "success");
    CMessageUserTalking talking;
    talking.type = CMessageUserTalking::kType;
    talking.source = "bob@hub";
    talking.target = "alice@hub";
    talking.text = "hello";
    ASSERT_TRUE(bob.Send(talking));
    ASSERT_TRUE(alice.ReceiveAs<CMessageUserTalking>());

    // Counters are read at each request; gauges come with the next tick.
    // The worker counts its cycle when the cycle ends, after its deliveries.
    BodyWhen(port, "quorvel_worker_cycles_total", 1);
    std::string body = BodyWhen(port, "quorvel_messages_delivered_total", 1);
    EXPECT_EQ(Sample(body, "quorvel_messages_delivered_total"), 1);
    EXPECT_EQ(Sample(body, "quorvel_messages_stored_total"), 1);
    EXPECT_EQ(Sample(body, "quorvel_logins_total{result=\"ok\"}"), 2);
    EXPECT_EQ(Sample(body, "quorvel_logins_total{result=\"failed\"}"), 0);
    EXPECT_EQ(Sample(body, "quorvel_messages_received_total{type=\"user-talking\"}"), 1);
    EXPECT_EQ(Sample(body, "quorvel_connections_accepted_total"), 2);
    EXPECT_GE(Sample(body, "quorvel_worker_cycles_total"), 1);
    Ticks(1);
    body = Get(port, "/metrics").body;
    EXPECT_EQ(Sample(body, "quorvel_connections"), 2);
    EXPECT_EQ(Sample(body, "quorvel_users_logged_in"), 2);
    EXPECT_EQ(Sample(body, "quorvel_store_pending_messages{target=\"local\"}"), 0);
    EXPECT_EQ(Sample(body, "quorvel_store_file_bytes{file=\"msg_index.dat\"}"), 8 + 132);
    EXPECT_GT(Sample(body, "process_resident_memory_bytes"), 0);

    EXPECT_EQ(Get(port, "/").status, 404);
    EXPECT_EQ(Get(port, "/metricsx").status, 404);
}

TEST_F(MetricsEndpoint, RefusalsShowUnderTheirLimit)
{
    const unsigned port = StartEndpoint();
    console_->Host().Counters()->CountRefused("MaxFriends");
    EXPECT_EQ(Sample(Get(port, "/metrics").body, "quorvel_refused_total{limit=\"MaxFriends\"}"), 1);
}

TEST_F(MetricsEndpoint, SettingsComeFromTheMetricsSection)
{
    const auto settingsFile = dir_ / "config/server.ini";
    CMetricsEndpoint::Settings settings = CMetricsEndpoint::ReadSettings(app_);
    EXPECT_EQ(settings.port, 0u);
    EXPECT_EQ(settings.address, "127.0.0.1");

    TempFolder::Write(settingsFile, "[METRICS]\nPort= 9100 \nAddress=0.0.0.0\n");
    settings = CMetricsEndpoint::ReadSettings(app_);
    EXPECT_EQ(settings.port, 9100u);
    EXPECT_EQ(settings.address, "0.0.0.0");

    for (const char* unusable : {"abc", "0", "-5", "65536", "91x"}) {
        TempFolder::Write(settingsFile, std::string("[METRICS]\nPort=") + unusable + "\n");
        EXPECT_EQ(CMetricsEndpoint::ReadSettings(app_).port, 0u) << unusable;
    }
}

TEST_F(MetricsEndpoint, OffWithoutAPortAndRefusedOnABusyOne)
{
    CMetricsEndpoint endpoint(log_, console_->Host().Counters());
    EXPECT_FALSE(endpoint.Start({}));
    EXPECT_EQ(endpoint.Port(), 0u);

    ListeningSocket holder;
    CMetricsEndpoint::Settings busy;
    busy.port = holder.Port();
    EXPECT_FALSE(endpoint.Start(busy));
    EXPECT_EQ(endpoint.Port(), 0u);
    EXPECT_EQ(view_.Count("ERROR 性能指标服务监听 127.0.0.1:" + std::to_string(holder.Port()) + " 失败"), 1);

    // Nor can a second endpoint share a port one serves.
    CMetricsEndpoint::Settings free;
    free.port = FreePort();
    ASSERT_TRUE(endpoint.Start(free));
    CMetricsEndpoint second(log_, console_->Host().Counters());
    EXPECT_FALSE(second.Start(free));
    EXPECT_EQ(Get(free.port, "/metrics").status, 200);
}

TEST_F(MetricsEndpoint, AStopRightAfterTheStartEnds)
{
    CMetricsEndpoint endpoint(log_, console_->Host().Counters());
    for (int i = 0; i < 20; ++i) {
        CMetricsEndpoint::Settings settings;
        settings.port = FreePort();
        ASSERT_TRUE(endpoint.Start(settings));
        endpoint.Stop();
        EXPECT_EQ(endpoint.Port(), 0u);
    }
}

TEST(MetricsText, EverySampleBelongsToAFamilyDeclaredOnce)
{
    CServerStatus::Snapshot snapshot;
    snapshot.counters.refused = {{"MaxFriends", 3}, {"odd\"name\\\n", 1}};
    const std::string text = CMetricsText::Render(snapshot);
    std::set<std::string> typed;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        ASSERT_FALSE(line.empty());
        if (line.rfind("# TYPE ", 0) == 0) {
            const std::string name = line.substr(7, line.find(' ', 7) - 7);
            EXPECT_TRUE(typed.insert(name).second) << name;
            continue;
        }
        if (line[0] == '#')
            continue;
        const std::string name = line.substr(0, line.find_first_of("{ "));
        EXPECT_TRUE(typed.count(name)) << line;
    }
    EXPECT_NE(text.find("quorvel_refused_total{limit=\"odd\\\"name\\\\\\n\"} 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("quorvel_worker_cycle_seconds 0.000000\n"), std::string::npos);
}

TEST(QuorveldMetrics, TheProgramServesMetricsWhenThePortIsSet)
{
    TempFolder dir;
    const unsigned servicePort = FreePort();
    const unsigned metricsPort = FreePort();
    ASSERT_TRUE(ServerConfig("hub", servicePort)
                    .AddUser("alice", "secret", {}, "Alice")
                    .SetIni("[METRICS]\nPort=" + std::to_string(metricsPort) + "\n")
                    .WriteTo(dir.Path()));
    QuorveldProcess quorveld(dir.Path());
    ASSERT_TRUE(quorveld.Start());
    ASSERT_TRUE(quorveld.WaitForOutput(std::to_string(metricsPort) + ")\n", 30s)) << quorveld.Output();
    ASSERT_TRUE(quorveld.SendLine("start"));
    ASSERT_TRUE(quorveld.WaitForOutput(":" + std::to_string(servicePort) + ")!\n", 30s)) << quorveld.Output();

    TestClient alice(servicePort);
    ASSERT_EQ(alice.Login("alice", "secret"), "success");
    std::string body;
    WaitUntil([&] { return Sample(body = Get(metricsPort, "/metrics").body, "quorvel_users_logged_in") == 1; }, 20s);
    EXPECT_EQ(Sample(body, "quorvel_users_logged_in"), 1) << body;
    EXPECT_EQ(Sample(body, "quorvel_logins_total{result=\"ok\"}"), 1);
    EXPECT_EQ(Sample(body, "quorvel_listening"), 1);

    // The exit ends the endpoint with the program; the settings file keeps
    // its metrics section.
    ASSERT_TRUE(quorveld.SendLine("exit"));
    const int status = quorveld.WaitForExit(60s);
    ASSERT_TRUE(WIFEXITED(status)) << quorveld.Output();
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Get(metricsPort, "/metrics").status, 0);
    EXPECT_NE(TempFolder::Read(dir / "config/server.ini").find("Port=" + std::to_string(metricsPort)),
              std::string::npos);
}
