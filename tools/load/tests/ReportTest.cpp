#include "CLoadOptions.h"
#include "CLoadReport.h"
#include "CServerProcess.h"
#include "CSvgChart.h"

#include <gtest/gtest.h>

#include <sstream>

using quorvel::load::CLatencyHistogram;
using quorvel::load::CLoadOptions;
using quorvel::load::CLoadReport;
using quorvel::load::CLoadResult;
using quorvel::load::CServerProcess;
using quorvel::load::CSvgChart;

namespace {

CLoadResult Sample()
{
    CLoadResult r;
    r.scenario = "relay";
    r.Parameter("pairs", "2 <&>");
    r.Add("msgs_per_s", "relayed messages per second", 123456.789, "msg/s");
    r.Add("sent", "messages sent", 1000, "");
    r.checked = true;
    r.passed = false;
    r.checkText = "missing 3";
    r.throughput.Start(std::chrono::steady_clock::now());
    r.throughput.Add(std::chrono::steady_clock::now(), 10);
    for (std::uint64_t v = 100; v < 5000; v += 7)
        r.latency.Record(v);
    return r;
}

} // namespace

TEST(LoadReportTest, TableAndResultLineCarryEveryMetricAndTheCheck)
{
    const auto r = Sample();
    std::ostringstream table;
    CLoadReport::PrintTable(table, r);
    EXPECT_NE(table.str().find("relayed messages per second"), std::string::npos);
    EXPECT_NE(table.str().find("123456.79"), std::string::npos);
    EXPECT_NE(table.str().find("in order per sender: NO (missing 3)"), std::string::npos);
    EXPECT_EQ(CLoadReport::ResultLine(r), "RESULT scenario=relay msgs_per_s=123456.79 sent=1000 checks=FAIL");
}

TEST(LoadReportTest, HtmlIsSelfContainedWithBothChartsAndEscapedText)
{
    const std::string html = CLoadReport::Html(Sample());
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("src="), std::string::npos);
    EXPECT_EQ(html.find("href="), std::string::npos);
    std::size_t svgs = 0;
    for (auto at = html.find("<svg"); at != std::string::npos; at = html.find("<svg", at + 1))
        ++svgs;
    EXPECT_EQ(svgs, 2u);
    EXPECT_NE(html.find("polyline"), std::string::npos);
    EXPECT_NE(html.find(">p50 "), std::string::npos);
    EXPECT_NE(html.find(">p99 "), std::string::npos);
    EXPECT_NE(html.find(">max "), std::string::npos);
    EXPECT_NE(html.find("2 &lt;&amp;&gt;"), std::string::npos);
    EXPECT_EQ(html.find("2 <&>"), std::string::npos);
}

TEST(LoadReportTest, ChartsOfNothingSayNoData)
{
    EXPECT_NE(CSvgChart::Line({}, 0.1, "x").find("no data"), std::string::npos);
    EXPECT_NE(CSvgChart::Histogram(CLatencyHistogram()).find("no data"), std::string::npos);
    EXPECT_EQ(CSvgChart::Micros(1500), "1.50 ms");
    EXPECT_EQ(CSvgChart::Micros(2500000), "2.50 s");
}

TEST(LoadOptionsTest, ScenarioDefaultsAndErrors)
{
    std::string error;
    auto chat = CLoadOptions::Parse({"chat", "--port", "4000"}, error);
    ASSERT_TRUE(chat);
    EXPECT_EQ(chat->users, 1000u);
    EXPECT_EQ(chat->rate, 5000);
    EXPECT_TRUE(chat->forceLogin);
    EXPECT_EQ(chat->report, "quorvel-load-chat.html");

    auto relay = CLoadOptions::Parse({"relay", "--server", "/x/quorveld", "--pairs", "200", "--rate", "5000"}, error);
    ASSERT_TRUE(relay);
    EXPECT_TRUE(relay->Spawns());
    EXPECT_EQ(relay->pairs, 200u);
    EXPECT_EQ(relay->registered, 0u);

    auto idle = CLoadOptions::Parse(
        {"connections", "--server", "q", "--registered", "60000", "--users", "1500", "--login", "password"}, error);
    ASSERT_TRUE(idle);
    EXPECT_EQ(idle->registered, 60000u);
    EXPECT_EQ(idle->users, 1500u);

    EXPECT_FALSE(CLoadOptions::Parse({}, error));
    EXPECT_FALSE(CLoadOptions::Parse({"nonsense", "--port", "1"}, error));
    EXPECT_FALSE(CLoadOptions::Parse({"relay"}, error));
    EXPECT_NE(error.find("--port"), std::string::npos);
    EXPECT_FALSE(CLoadOptions::Parse({"relay", "--port", "70000"}, error));
    EXPECT_FALSE(CLoadOptions::Parse({"relay", "--port", "4000", "--rate"}, error));
    EXPECT_FALSE(CLoadOptions::Parse({"relay", "--port", "4000", "--server", "q"}, error));
    EXPECT_FALSE(CLoadOptions::Parse({"chat", "--port", "4000", "--login", "password"}, error));
    EXPECT_TRUE(CLoadOptions::Parse({"loopback"}, error));
}

TEST(ServerProcessTest, DirectoryGivesEachUserItsNeighboursAsFriends)
{
    const std::string xml = CServerProcess::DirectoryXml(4321, 5, 3);
    EXPECT_NE(xml.find("port=\"4321\""), std::string::npos);
    EXPECT_NE(xml.find("userid=\"l0\" name=\"l0\" sex=\"\" tel=\"\" password=\"load\" "
                       "friends=\"l1@load/l4@load/l2@load\""),
              std::string::npos);
    EXPECT_NE(xml.find("userid=\"l3\" name=\"l3\" sex=\"\" tel=\"\" password=\"load\" "
                       "friends=\"l4@load/l2@load/l0@load\""),
              std::string::npos);
    // Two users: each the other's only friend, never its own.
    EXPECT_NE(CServerProcess::DirectoryXml(1, 2, 4).find("userid=\"l1\" name=\"l1\" sex=\"\" tel=\"\" "
                                                         "password=\"load\" friends=\"l0@load\""),
              std::string::npos);
}
