// quorvel-load: a load generator for a Quorvel server on 127.0.0.1. See
// CLoadOptions::Usage and docs/load.md.
#include "CLoadOptions.h"
#include "CLoadReport.h"
#include "CLoadScenario.h"
#include "CLoopbackBaseline.h"
#include "COpenFileLimit.h"
#include "CServerProcess.h"

#include <asio/ip/address_v4.hpp>

#include <csignal>
#include <ctime>
#include <iostream>
#include <unistd.h>

using quorvel::load::CLoadContext;
using quorvel::load::CLoadOptions;
using quorvel::load::CLoadReport;
using quorvel::load::CLoadResult;
using quorvel::load::CLoadScenario;
using quorvel::load::CLoopbackBaseline;
using quorvel::load::COpenFileLimit;
using quorvel::load::CServerProcess;

namespace {

CLoadResult RunLoopback(const CLoadOptions& o)
{
    CLoadResult result;
    result.scenario = "loopback";
    result.Parameter("seconds", CLoadReport::Format(o.seconds));
    result.Parameter("message size", std::to_string(CLoopbackBaseline::kMessageSize) + " B");
    result.Add("one_per_send", "messages per second, one per send", CLoopbackBaseline::Measure(o.seconds, 1), "msg/s");
    result.Add("64_per_send", "messages per second, 64 per send", CLoopbackBaseline::Measure(o.seconds, 64), "msg/s");
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (CLoadOptions::AsksForHelp(args)) {
        std::cout << CLoadOptions::Usage();
        return 0;
    }
    std::string error;
    const auto options = CLoadOptions::Parse(args, error);
    if (!options) {
        std::cerr << "quorvel-load: " << error << "\n" << CLoadOptions::Usage();
        return 2;
    }
    const auto before = COpenFileLimit::RaiseToHard();
    const auto now = COpenFileLimit::Current();
    std::cout << "open files: soft limit " << before.soft << ", hard limit " << before.hard << "; now " << now.soft
              << std::endl;

    CLoadResult result;
    if (options->scenario == "loopback") {
        result = RunLoopback(*options);
    } else {
        CServerProcess spawned;
        unsigned port = options->port;
        int pid = options->pid;
        if (options->Spawns()) {
            // Password logins need users in the directory; forced ones make
            // their own. --registered fills the directory beyond who logs in.
            const unsigned users =
                std::max(options->registered, options->forceLogin ? 0 : std::max(options->users, 2 * options->pairs));
            if (!spawned.Start(options->serverProgram, users, options->friends, error)) {
                std::cerr << "quorvel-load: " << error << "\n";
                return 1;
            }
            port = spawned.Port();
            pid = spawned.Pid();
            std::cout << "server started: pid " << pid << ", port " << port << ", folder " << spawned.Folder().string()
                      << std::endl;
        }
        asio::io_context io(1);
        CLoadContext context{io, {asio::ip::address_v4::loopback(), static_cast<unsigned short>(port)}, *options, pid,
                             std::to_string(::getpid() % 1000) + std::to_string(std::time(nullptr) % 100000)};
        auto scenario = CLoadScenario::Make(options->scenario);
        result = scenario->Run(context);
    }
    CLoadReport::PrintTable(std::cout, result);
    std::cout << CLoadReport::ResultLine(result) << "\n";
    if (CLoadReport::WriteHtml(options->report, result))
        std::cout << "report: " << options->report << "\n";
    else
        std::cerr << "quorvel-load: cannot write " << options->report << "\n";
    const bool ok = result.notes.empty() && (!result.checked || result.passed);
    return ok ? 0 : 1;
}
