#include "CClientApp.h"

#include "CLineReader.h"

#include "quorvel_client/CClientConnection.h"
#include "quorvel_client/CClientOutput.h"
#include "quorvel_client/CClientSession.h"
#include "quorvel_client/CCommandLine.h"

#include <marlune/CMessageBase.h>

#include <charconv>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <thread>
#include <unistd.h>

using marlune::CMessageBase;
using quorvel::client::CClientConnection;
using quorvel::client::CClientOutput;
using quorvel::client::CClientSession;
using quorvel::client::CCommandLine;

namespace {

constexpr auto kPollStep = std::chrono::milliseconds(50);
constexpr auto kDefaultExpect = std::chrono::seconds(5);
// How long the end of a piped input or script waits for late replies.
constexpr auto kDefaultLinger = std::chrono::seconds(1);

const char* kUsage =
    "usage: quorvel-client [--json] [--script FILE] [--linger SECONDS] HOST PORT\n"
    "  --json             print each received message as one JSON object\n"
    "  --script FILE      read the commands from FILE instead of standard input\n"
    "  --linger SECONDS   wait for late answers at the end of the input (default 1, 0 on a terminal)\n"
    "  --help             print this text\n"
    "Commands come one per line; type help in a session for the list.\n"
    "Exit status: 0 normal end, 1 connection failed or lost, 2 wrong options or unreadable script,\n"
    "3 an expect saw no message in time, 4 a command failed.";

} // namespace

CClientApp::CClientApp() = default;

// connection_ is declared last, so it goes first: its handlers use the
// session and the output.
CClientApp::~CClientApp() = default;

bool CClientApp::ParseSeconds(std::string_view text, std::chrono::milliseconds& time)
{
    char* end = nullptr;
    const std::string copy(text);
    const double seconds = std::strtod(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size() || !(seconds >= 0) || seconds > 86400)
        return false;
    time = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    return true;
}

CClientApp::Options CClientApp::ParseOptions(int argc, char** argv)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return Options::kHelp;
        if (arg == "--json") {
            json_ = true;
        } else if ((arg == "--script" || arg == "--linger") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--script")
                script_ = value;
            else if (!ParseSeconds(value, linger_))
                return Options::kBad;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Options::kBad;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2)
        return Options::kBad;
    host_ = positional[0];
    const std::string& port = positional[1];
    auto [ptr, ec] = std::from_chars(port.data(), port.data() + port.size(), port_);
    const bool good = ec == std::errc() && ptr == port.data() + port.size() && port_ > 0 && port_ <= 65535;
    return good ? Options::kRun : Options::kBad;
}

int CClientApp::Run(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    out_ = std::make_unique<CClientOutput>(std::cout, std::cerr);
    const Options options = ParseOptions(argc, argv);
    if (options == Options::kHelp) {
        std::cout << kUsage << std::endl;
        return kExitOk;
    }
    if (options == Options::kBad) {
        out_->Notice(kUsage);
        return kExitUsage;
    }
    int fd = STDIN_FILENO;
    if (!script_.empty()) {
        fd = ::open(script_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            out_->Error("cannot read the script " + script_);
            return kExitUsage;
        }
    }
    const bool terminal = ::isatty(fd) == 1;
    if (linger_.count() < 0)
        linger_ = terminal ? std::chrono::milliseconds(0) : kDefaultLinger;

    session_ = std::make_unique<CClientSession>([this](CMessageBase& msg) { return connection_->Send(msg); },
                                                *out_, json_, std::filesystem::current_path());
    connection_ = std::make_unique<CClientConnection>(
        [this](const std::uint8_t* data, std::size_t length) { session_->Receive(data, length); },
        [this] {
            lost_ = true;
            out_->Error("the server closed the connection");
        });
    if (!connection_->Connect(host_, port_)) {
        out_->Error("cannot connect to " + host_ + ":" + std::to_string(port_));
        exitCode_ = kExitConnection;
    } else {
        if (terminal)
            out_->Notice("connected to " + host_ + ":" + std::to_string(port_) + " (type help for the commands)");
        CLineReader reader(fd);
        exitCode_ = Session(reader);
    }
    connection_.reset();
    if (fd != STDIN_FILENO)
        ::close(fd);
    return exitCode_;
}

int CClientApp::Session(CLineReader& reader)
{
    std::string line;
    for (;;) {
        if (lost_)
            return kExitConnection;
        const CLineReader::Result result = reader.Next(line, kPollStep * 4);
        if (result == CLineReader::Result::kIdle)
            continue;
        if (result == CLineReader::Result::kEnd)
            return AwaitAnswers() && Pause(linger_) ? NormalEnd() : kExitConnection;
        if (!RunLine(line))
            return exitCode_;
    }
}

bool CClientApp::RunLine(const std::string& line)
{
    CCommandLine cmd;
    std::string error;
    if (cmd.Parse(line, error) && cmd.Verb() == "wait") {
        std::chrono::milliseconds time{};
        if (cmd.Count() != 1 || !ParseSeconds(cmd.Arg(0), time)) {
            out_->Error("usage: wait SECONDS");
            failed_ = true;
            return true;
        }
        if (Pause(time))
            return true;
        exitCode_ = kExitConnection;
        return false;
    }
    if (cmd.Verb() == "expect")
        return Expect(cmd);
    return Execute(line);
}

bool CClientApp::Execute(const std::string& line)
{
    auto run = [this, &line] {
        return connection_->Loop().Call([this, &line] { return session_->Execute(line); });
    };
    auto step = run().value_or(CClientSession::Step::kQuit);
    if (step == CClientSession::Step::kWait) {
        if (!AwaitAnswers()) {
            exitCode_ = kExitConnection;
            return false;
        }
        step = run().value_or(CClientSession::Step::kQuit);
    }
    if (step != CClientSession::Step::kQuit)
        return true;
    exitCode_ = !lost_ && AwaitAnswers() ? NormalEnd() : kExitConnection;
    return false;
}

bool CClientApp::AwaitAnswers()
{
    const auto until = std::chrono::steady_clock::now() + kAnswerWait;
    auto due = [this] { return connection_->Loop().Call([this] { return session_->AnswersDue(); }).value_or(false); };
    while (!lost_ && due()) {
        if (std::chrono::steady_clock::now() >= until) {
            connection_->Loop().Call([this] { session_->AnswersOverdue(); });
            break;
        }
        std::this_thread::sleep_for(kPollStep / 5);
    }
    return !lost_;
}

int CClientApp::NormalEnd()
{
    const auto failures = connection_->Loop().Call([this] { return session_->Failures(); }).value_or(0);
    return failed_ || failures > 0 ? kExitFailed : kExitOk;
}

bool CClientApp::Pause(std::chrono::milliseconds time)
{
    const auto until = std::chrono::steady_clock::now() + time;
    while (!lost_ && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(kPollStep, until - std::chrono::steady_clock::now()));
    return !lost_;
}

bool CClientApp::Expect(const CCommandLine& cmd)
{
    std::chrono::milliseconds limit = kDefaultExpect;
    if (cmd.Count() < 1 || cmd.Count() > 2 || (cmd.Count() == 2 && !ParseSeconds(cmd.Arg(1), limit))) {
        out_->Error("usage: expect TYPE [SECONDS]");
        failed_ = true;
        return true;
    }
    const std::string type = cmd.Arg(0);
    const std::size_t wanted = expected_[type] + 1;
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto count = connection_->Loop().Call([this, type] { return session_->ReceivedCount(type); });
        if (count.value_or(0) >= wanted) {
            expected_[type] = wanted;
            return true;
        }
        if (lost_ || std::chrono::steady_clock::now() >= until)
            break;
        std::this_thread::sleep_for(kPollStep / 2);
    }
    if (lost_) {
        exitCode_ = kExitConnection;
        return false;
    }
    out_->Error("no " + type + " message arrived in time");
    exitCode_ = kExitExpect;
    return false;
}
