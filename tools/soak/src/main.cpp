// quorvel-soak: starts a copy of quorveld, lets well-behaved users chat in a
// ring while hostile clients attack the same server and its one route server
// hangs, for a bounded time, and reports what was handled; meanwhile a slow
// reader crawls through messages stored for an absent user and drops its
// connection now and then, and a well-behaved user logs in and out again
// and again, timing each login. Further attackers go at what the server
// holds: many half-sent 16 MiB frames, large chunks fanned out to every
// connection of a user that never reads, and a flood of connections from
// an address of its own. Exits 0 when no chat message was lost or
// duplicated, no stored message was lost or came out of order, every
// well-behaved user stayed connected, the server's peak resident memory
// stayed within its budget, 99 % of the timed logins were answered within
// their budget and none failed, no line the attackers forged reached the
// log, the connection flood was held to its address's share and refused
// beyond it, the server still answered a login at the end and ended
// cleanly on its exit command.
//
//   quorvel-soak --quorveld PATH [--seconds N] [--chatters N] [--rounds-per-second N] [--pace N]
//                [--rss-budget-mib N] [--login-budget-ms N]
//   quorvel-soak --help
//
// --pace N makes every pause of the hostile clients N times longer; a budget
// of 0 is reported without being checked.

#include "CChatters.h"
#include "CCostlyFloods.h"
#include "CHostileClients.h"
#include "CHungRouteServer.h"
#include "CLoginProbe.h"
#include "CResourceFloods.h"
#include "CSoakServer.h"
#include "CStoredBacklog.h"

#include "quorvel_client/CSyncClient.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using quorvel::client::CSyncClient;
using quorvel::soak::CChatters;
using quorvel::soak::CCostlyFloods;
using quorvel::soak::CHostileClients;
using quorvel::soak::CHungRouteServer;
using quorvel::soak::CLoginProbe;
using quorvel::soak::CResourceFloods;
using quorvel::soak::CSoakServer;
using quorvel::soak::CStoredBacklog;

namespace {

using namespace std::chrono_literals;


struct Options {
    std::string quorveld;
    int seconds = 60;
    int chatters = 8;
    int roundsPerSecond = 20;
    int pace = 1;
    // What the server may spend under the attack: its peak resident memory,
    // and the time 99 % of the well-behaved logins wait for their answer;
    // 0 reports without checking.
    long rssBudgetMiB = 512;
    long loginBudgetMs = 100;
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--quorveld")
            options.quorveld = value;
        else if (name == "--seconds")
            options.seconds = std::atoi(value);
        else if (name == "--chatters")
            options.chatters = std::atoi(value);
        else if (name == "--rounds-per-second")
            options.roundsPerSecond = std::atoi(value);
        else if (name == "--pace")
            options.pace = std::atoi(value);
        else if (name == "--rss-budget-mib")
            options.rssBudgetMiB = std::atol(value);
        else if (name == "--login-budget-ms")
            options.loginBudgetMs = std::atol(value);
        else
            return false;
    }
    return argc % 2 == 1 && !options.quorveld.empty() && options.seconds > 0 && options.chatters >= 2 &&
           options.roundsPerSecond > 0 && options.pace > 0 && options.rssBudgetMiB >= 0 && options.loginBudgetMs >= 0;
}

std::vector<std::string> Names(const std::string& prefix, int count)
{
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back(prefix + std::to_string(i));
    return names;
}

unsigned long long Value(const std::atomic<std::uint64_t>& counter)
{
    return static_cast<unsigned long long>(counter.load());
}

} // namespace

int main(int argc, char** argv)
{
    constexpr const char* kUsage =
        "usage: quorvel-soak --quorveld PATH [--seconds N] [--chatters N] [--rounds-per-second N] [--pace N]\n"
        "                    [--rss-budget-mib N] [--login-budget-ms N]\n"
        "  --quorveld PATH          the server program to start a copy of\n"
        "  --seconds N              how long the attack lasts (default 60)\n"
        "  --chatters N             well-behaved users chatting in a ring (default 8, at least 2)\n"
        "  --rounds-per-second N    chat rounds per second (default 20)\n"
        "  --pace N                 every pause of the hostile clients N times longer (default 1)\n"
        "  --rss-budget-mib N       fail when the server's peak resident memory passes N MiB\n"
        "                           (default 512; 0 reports it only)\n"
        "  --login-budget-ms N      fail when 1 % of the logins under attack take longer than N ms\n"
        "                           or one fails (default 100; 0 reports them only)\n";
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::vector<std::string> chatterNames = Names("chat", options.chatters);
    const std::vector<std::string> slowNames = Names("slow", 4);
    std::vector<std::string> users = chatterNames;
    users.insert(users.end(), slowNames.begin(), slowNames.end());
    users.push_back("hostile");
    users.push_back("probe");
    users.push_back("keeper");
    users.push_back("absent");
    users.push_back("router");
    users.push_back("prober");
    users.push_back("fanout");
    users.push_back("fansender");
    const std::vector<std::string> listers = Names("lister", 2);
    users.insert(users.end(), listers.begin(), listers.end());

    CSoakServer server(options.quorveld);
    CHungRouteServer hung(options.pace);
    server.AddRouteServer(CHungRouteServer::kName, hung.Port());
    server.WatchForForgedLines(CCostlyFloods::kForgedMark);
    if (!server.Start(users, 60s)) {
        std::fprintf(stderr, "soak: quorveld did not start\n");
        return 1;
    }
    std::this_thread::sleep_for(1s);
    const long rssBefore = server.RssKiB();

    CChatters chatters(server.Port(), chatterNames);
    if (!chatters.LogIn()) {
        std::fprintf(stderr, "soak: the well-behaved users could not log in\n");
        return 1;
    }
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + std::chrono::seconds(options.seconds);
    CHostileClients hostile(server.Port(), chatterNames, slowNames, "hostile", options.pace);
    CStoredBacklog backlog(server.Port(), "keeper", "absent", options.pace);
    CCostlyFloods costly(server.Port(), listers, chatterNames, "hostile", options.pace);
    CResourceFloods resources(server.Port(), "fanout", "fansender", options.pace);
    CLoginProbe prober(server.Port(), "prober", 250ms);
    backlog.Start(deadline);
    hostile.Start(deadline);
    costly.Start(deadline);
    resources.Start(deadline);
    prober.Start(deadline);
    hung.Start(server.Port(), "router", deadline);
    const auto pause = std::chrono::microseconds(1000000 / options.roundsPerSecond);
    while (std::chrono::steady_clock::now() < deadline && server.Running()) {
        chatters.Round();
        std::this_thread::sleep_for(pause);
    }
    hostile.Join();
    costly.Join();
    resources.Join();
    prober.Join();
    backlog.Join();
    hung.Join();
    chatters.Settle(30s);
    backlog.Settle(60s);

    // The route server still hangs: the login must not wait for it.
    CSyncClient probe;
    const auto probeStarted = std::chrono::steady_clock::now();
    const bool answers = server.Running() && probe.Connect("127.0.0.1", server.Port()) && probe.Login("probe", "pw-probe");
    const double probeMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - probeStarted).count();
    probe.Close();
    const long rssAfter = server.RssKiB();
    const long rssPeak = server.PeakRssKiB();
    const bool running = server.Running();
    const std::uint64_t disconnected = chatters.Disconnected();
    const auto& counts = hostile.Counts();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::printf("soak: %.0f s against quorveld on 127.0.0.1:%d\n", elapsed, server.Port());
    std::printf("hostile connections opened: %llu (failed connects %llu, ended by the server %llu)\n",
                Value(counts.connections), Value(counts.failedConnects), Value(counts.closedByServer));
    std::printf("hostile frames sent: %llu, bytes sent: %llu\n", Value(counts.frames), Value(counts.bytes));
    const auto& costs = costly.Counts();
    std::printf("costly requests: announcements %llu, list requests %llu, friend offers %llu, forged fields %llu\n",
                Value(costs.announcements), Value(costs.listRequests), Value(costs.friendOffers),
                Value(costs.forgeries));
    const auto& held = resources.Counts();
    std::printf("half-sent 16 MiB frames: %llu (ended by the server %llu); fan-out chunks of 2 MiB: %llu to %llu "
                "logins of one user (ended by the server %llu)\n",
                Value(held.stalledFrames), Value(held.stallersClosed), Value(held.fanOutChunks),
                Value(held.fanOutLogins), Value(held.fanOutClosed));
    const bool floodHeld = held.floodHeld.load() <= CResourceFloods::kConnectionsPerAddress && held.floodRefused.load() > 0;
    std::printf("connection flood from %s: %llu opened, %llu refused, %llu held at the end (at most %zu)\n",
                CResourceFloods::kFloodAddress, Value(held.floodConnects), Value(held.floodRefused),
                Value(held.floodHeld), CResourceFloods::kConnectionsPerAddress);
    std::printf("chat messages: sent %llu, received %llu, lost %llu, duplicated %llu, send failures %llu\n",
                static_cast<unsigned long long>(chatters.Sent()), static_cast<unsigned long long>(chatters.Received()),
                static_cast<unsigned long long>(chatters.Lost()),
                static_cast<unsigned long long>(chatters.Duplicates()),
                static_cast<unsigned long long>(chatters.SendFailures()));
    std::printf("stored messages for a slow reader: sent %llu, received %llu, lost %llu, duplicated %llu "
                "(cut by a drop), out of order %llu, slow sessions %llu\n",
                static_cast<unsigned long long>(backlog.Sent()), static_cast<unsigned long long>(backlog.Received()),
                static_cast<unsigned long long>(backlog.Lost()), static_cast<unsigned long long>(backlog.Duplicates()),
                static_cast<unsigned long long>(backlog.OutOfOrder()),
                static_cast<unsigned long long>(backlog.SlowSessions()));
    std::printf("well-behaved users disconnected: %llu of %d\n",
                static_cast<unsigned long long>(disconnected), options.chatters);
    std::printf("server RSS: %ld KiB before, %ld KiB after, %ld KiB at its peak (budget %ld MiB)\n", rssBefore,
                rssAfter, rssPeak, options.rssBudgetMiB);
    const double loginP99 = prober.Percentile(0.99);
    std::printf("logins under attack: %zu, failed %llu, p50 %.1f ms, p99 %.1f ms (budget %ld ms), worst %.1f ms\n",
                prober.Logins(), static_cast<unsigned long long>(prober.Failures()), prober.Percentile(0.5), loginP99,
                options.loginBudgetMs, prober.Percentile(1.0));
    std::printf("  of which the connect: p50 %.1f ms, p99 %.1f ms\n", prober.ConnectPercentile(0.5),
                prober.ConnectPercentile(0.99));
    std::printf("server log lines: %llu (ERROR %llu)\n", static_cast<unsigned long long>(server.OutputLines()),
                static_cast<unsigned long long>(server.ErrorLines()));
    std::printf("messages for the hung route server: %llu sent (it took %llu connections, then none)\n",
                static_cast<unsigned long long>(hung.MessagesSent()), static_cast<unsigned long long>(hung.Accepted()));
    std::printf("server running at the end: %s, answers a login: %s (in %.0f ms)\n", running ? "yes" : "no",
                answers ? "yes" : "no", probeMs);
    const auto exitStarted = std::chrono::steady_clock::now();
    const bool exited = server.Exit(60s);
    const double exitSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - exitStarted).count();
    std::printf("server exit on command: %s (in %.2f s)\n", exited ? "clean" : "FAILED", exitSeconds);
    const std::uint64_t forged = server.ForgedOutputLines() + server.ForgedFileLines();
    std::printf("forged log lines: %llu on the console, %llu in the log files\n",
                static_cast<unsigned long long>(server.ForgedOutputLines()),
                static_cast<unsigned long long>(server.ForgedFileLines()));

    const bool ok = running && answers && exited && chatters.Lost() == 0 && chatters.Duplicates() == 0 &&
                    chatters.SendFailures() == 0 && disconnected == 0 && chatters.Sent() > 0 && backlog.Sent() > 0 &&
                    backlog.Lost() == 0 && backlog.OutOfOrder() == 0 && forged == 0 && floodHeld;
    const bool withinRss = options.rssBudgetMiB == 0 || (rssPeak > 0 && rssPeak <= options.rssBudgetMiB * 1024);
    const bool withinLogin = options.loginBudgetMs == 0 ||
                             (prober.Logins() > 0 && prober.Failures() == 0 && loginP99 <= options.loginBudgetMs);
    if (!withinRss || !withinLogin)
        std::printf("over budget:%s%s\n", withinRss ? "" : " peak memory", withinLogin ? "" : " login time");
    const bool passed = ok && withinRss && withinLogin;
    std::printf("soak: %s\n", passed ? "PASSED" : "FAILED");
    return passed ? 0 : 1;
}
