#include "CSoakServer.h"

#include "quorvel_test_support/FreePort.h"
#include "quorvel_test_support/QuorveldProcess.h"
#include "quorvel_test_support/ServerConfig.h"
#include "quorvel_test_support/TempFolder.h"

#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>

namespace quorvel::soak {

using testsupport::FreePort;
using testsupport::QuorveldProcess;
using testsupport::ServerConfig;
using testsupport::TempFolder;

namespace fs = std::filesystem;

CSoakServer::CSoakServer(std::string program) : program_(std::move(program))
{
    try {
        folder_ = std::make_unique<TempFolder>("quorvel_soak");
    } catch (const std::exception&) {
        // Start fails without a folder.
    }
}

CSoakServer::~CSoakServer()
{
    if (process_ && process_->Running()) {
        process_->Signal(SIGKILL);
        process_->WaitForExit(std::chrono::seconds(10));
    }
    if (reader_.joinable())
        reader_.join();
}

void CSoakServer::AddRouteServer(const std::string& name, int port)
{
    routes_.emplace_back(name, static_cast<unsigned>(port));
}

bool CSoakServer::Start(const std::vector<std::string>& users, std::chrono::seconds limit)
{
    if (!folder_)
        return false;
    port_ = static_cast<int>(FreePort());
    ServerConfig config("hub", static_cast<unsigned>(port_), "soak");
    for (const auto& [name, port] : routes_)
        config.AddRouteServer(name, port);
    for (const auto& id : users)
        config.AddUser(id, "pw-" + id);
    if (port_ == 0 || !config.WriteTo(folder_->Path()))
        return false;
    process_ = std::make_unique<QuorveldProcess>(folder_->Path(), program_);
    if (!process_->Start())
        return false;
    reader_ = std::thread([this] { ReadOutput(); });
    return process_->SendLine("start") && process_->WaitUntilAccepting(static_cast<unsigned>(port_), limit);
}

void CSoakServer::ReadOutput()
{
    std::string partial;
    while (process_->ReadOutput(partial)) {
        std::size_t start = 0;
        for (std::size_t end; (end = partial.find('\n', start)) != std::string::npos; start = end + 1) {
            // Each search stays within its line: a read brings hundreds of
            // lines, and a search to the end of the read for each of them
            // took the soak half a processor, taken from the server.
            const std::string_view line = std::string_view(partial).substr(start, end - start);
            lines_.fetch_add(1);
            if (Forged(line))
                forged_.fetch_add(1);
            if (line == "ERROR" || line.find(" ERROR ") != std::string_view::npos)
                errors_.fetch_add(1);
        }
        partial.erase(0, start);
    }
}

bool CSoakServer::Exit(std::chrono::seconds limit)
{
    if (!process_ || !process_->SendLine("exit"))
        return false;
    const int status = process_->WaitForExit(limit);
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool CSoakServer::Running() const
{
    return process_ && process_->Running();
}

long CSoakServer::RssKiB() const
{
    return StatusKiB("VmRSS:");
}

long CSoakServer::PeakRssKiB() const
{
    return StatusKiB("VmHWM:");
}

long CSoakServer::StatusKiB(const char* field) const
{
    if (!process_ || process_->Pid() <= 0)
        return 0;
    std::ifstream status("/proc/" + std::to_string(process_->Pid()) + "/status");
    std::string line;
    const std::string_view name(field);
    while (std::getline(status, line)) {
        if (line.rfind(name, 0) == 0)
            return std::strtol(line.c_str() + name.size(), nullptr, 10);
    }
    return 0;
}

bool CSoakServer::Forged(std::string_view line) const
{
    if (line.find('\x1b') != std::string_view::npos)
        return true;
    if (mark_.empty())
        return false;
    // A carriage return starts a line on a terminal as a line feed does.
    for (std::size_t start = 0;;) {
        if (line.substr(start, mark_.size()) == mark_)
            return true;
        const std::size_t cr = line.find('\r', start);
        if (cr == std::string_view::npos)
            return false;
        start = cr + 1;
    }
}

std::uint64_t CSoakServer::ForgedFileLines() const
{
    std::uint64_t forged = 0;
    if (!folder_)
        return 0;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder_->Path() / "log", error)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream file(entry.path(), std::ios::binary);
        std::string line;
        while (std::getline(file, line)) {
            forged += Forged(line) ? 1 : 0;
        }
    }
    return forged;
}

} // namespace quorvel::soak
