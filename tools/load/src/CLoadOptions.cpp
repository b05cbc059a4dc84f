#include "CLoadOptions.h"

#include <algorithm>
#include <charconv>
#include <set>

namespace quorvel::load {

namespace {

template <class T>
bool ReadNumber(const std::string& text, T& out)
{
    auto result = std::from_chars(text.data(), text.data() + text.size(), out);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ReadDouble(const std::string& text, double& out)
{
    try {
        std::size_t used = 0;
        out = std::stod(text, &used);
        return used == text.size() && out >= 0;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

std::string CLoadOptions::Usage()
{
    return "usage: quorvel-load SCENARIO (--port P [--pid PID] | --server PROGRAM) [options]\n"
           "scenarios:\n"
           "  relay        pairs of users exchange trans-file messages (--pairs, --rate, --window)\n"
           "  chat         users send user-talking to random users at a total rate (--users, --rate)\n"
           "  offline      messages to a user who is away, then its login (--messages)\n"
           "  connections  users log in and stay idle; server memory and worker cycle (--users)\n"
           "  logins       users log in at once; logins/s and friends notified (--users, --friends)\n"
           "  loopback     plain-socket limit: 100-byte messages, one send each\n"
           "options:\n"
           "  --port P            server listening on 127.0.0.1:P\n"
           "  --pid PID           that server's process, for its memory and worker time\n"
           "  --server PROGRAM    start a copy of quorveld in a temporary folder instead\n"
           "  --login force|password   forced login (default) or password login of directory users\n"
           "  --users N --pairs N --messages N --friends N\n"
           "  --registered N      the generated directory holds at least N users (l0, l1 ...)\n"
           "  --rate R            messages per second in all (relay: 0 = as fast as possible)\n"
           "  --seconds S         sending time; --drain S longest wait for the rest\n"
           "  --window W          relay at full speed: messages in flight per sender\n"
           "                      (default 4096 in all, 16 to 256 each)\n"
           "  --report FILE       HTML report (default quorvel-load-SCENARIO.html)\n"
           "  --no-baseline       relay: skip the loopback measurement\n"
           "  --help              print this text\n";
}

bool CLoadOptions::AsksForHelp(const std::vector<std::string>& args)
{
    return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; });
}

std::optional<CLoadOptions> CLoadOptions::Parse(const std::vector<std::string>& args, std::string& error)
{
    static const std::set<std::string> kScenarios{"relay", "chat", "offline", "connections", "logins", "loopback"};
    CLoadOptions o;
    if (args.empty() || !kScenarios.count(args[0])) {
        error = args.empty() ? "no scenario given" : "unknown scenario: " + args[0];
        return std::nullopt;
    }
    o.scenario = args[0];
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--no-baseline") {
            o.baseline = false;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = "missing value after " + name;
            return std::nullopt;
        }
        const std::string& value = args[++i];
        bool ok = true;
        if (name == "--port")
            ok = ReadNumber(value, o.port) && o.port > 0 && o.port < 65536;
        else if (name == "--pid")
            ok = ReadNumber(value, o.pid) && o.pid > 0;
        else if (name == "--server")
            o.serverProgram = value;
        else if (name == "--login") {
            ok = value == "force" || value == "password";
            o.forceLogin = value == "force";
        } else if (name == "--users")
            ok = ReadNumber(value, o.users) && o.users > 0;
        else if (name == "--pairs")
            ok = ReadNumber(value, o.pairs) && o.pairs > 0;
        else if (name == "--messages")
            ok = ReadNumber(value, o.messages) && o.messages > 0;
        else if (name == "--friends")
            ok = ReadNumber(value, o.friends);
        else if (name == "--registered")
            ok = ReadNumber(value, o.registered);
        else if (name == "--window")
            ok = ReadNumber(value, o.window) && o.window > 0;
        else if (name == "--rate")
            ok = ReadDouble(value, o.rate);
        else if (name == "--seconds")
            ok = ReadDouble(value, o.seconds) && o.seconds > 0;
        else if (name == "--drain")
            ok = ReadDouble(value, o.drainSeconds);
        else if (name == "--report")
            o.report = value;
        else {
            error = "unknown option: " + name;
            return std::nullopt;
        }
        if (!ok) {
            error = "bad value for " + name + ": " + value;
            return std::nullopt;
        }
    }
    if (o.scenario != "loopback" && o.port == 0 && !o.Spawns()) {
        error = "give --port of a running server or --server to start one";
        return std::nullopt;
    }
    if (o.port != 0 && o.Spawns()) {
        error = "--port and --server exclude each other";
        return std::nullopt;
    }
    if (!o.forceLogin && !o.Spawns() && o.scenario != "logins") {
        error = "--login password needs the generated directory of --server";
        return std::nullopt;
    }
    o.FillDefaults();
    return o;
}

void CLoadOptions::FillDefaults()
{
    const bool relay = scenario == "relay";
    const bool chat = scenario == "chat";
    if (pairs == 0)
        pairs = 1;
    if (users == 0)
        users = chat ? 1000 : scenario == "connections" ? 10000 : 2000;
    if (messages == 0)
        messages = 100000;
    if (rate < 0)
        rate = chat ? 5000 : 0;
    if (seconds < 0)
        seconds = chat ? 10 : relay ? 5 : scenario == "connections" ? 5 : 3;
    if (drainSeconds < 0)
        drainSeconds = relay ? 5 : 30;
    // About 4096 messages in flight in all: enough to keep the server busy,
    // few enough that queueing does not dominate the latency.
    if (window == 0)
        window = std::clamp(4096u / (2 * pairs), 16u, 256u);
    if (friends == 0 && scenario == "logins")
        friends = 10;
    if (report.empty())
        report = "quorvel-load-" + scenario + ".html";
}

} // namespace quorvel::load
