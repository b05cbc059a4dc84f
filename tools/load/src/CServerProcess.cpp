#include "CServerProcess.h"

#include "quorvel_test_support/FreePort.h"
#include "quorvel_test_support/QuorveldProcess.h"
#include "quorvel_test_support/ServerConfig.h"
#include "quorvel_test_support/TempFolder.h"

#include <chrono>
#include <cstdlib>
#include <exception>

namespace quorvel::load {

using testsupport::FreePort;
using testsupport::QuorveldProcess;
using testsupport::ServerConfig;
using testsupport::TempFolder;

namespace {

ServerConfig LoadDirectory(unsigned port, unsigned users, unsigned friends)
{
    ServerConfig config("load", port, "load");
    for (unsigned i = 0; i < users; ++i) {
        // Friends on both sides, so users logging in one after another
        // notify those before them.
        std::string list;
        for (unsigned k = 1; k <= friends && k < users; ++k) {
            const unsigned step = (k + 1) / 2;
            const unsigned other = k % 2 ? (i + step) % users : (i + users - step % users) % users;
            if (other == i)
                continue;
            if (!list.empty())
                list += "/";
            list += "l" + std::to_string(other) + "@load";
        }
        config.AddUser("l" + std::to_string(i), "load", list);
    }
    // Every simulated user connects from 127.0.0.1: the bound per remote
    // address would turn all but the first few hundred away.
    config.SetIni("[LIMITS]\r\nMaxConnectionsPerAddress=1000000000\r\n");
    return config;
}

} // namespace

CServerProcess::CServerProcess() = default;

CServerProcess::~CServerProcess()
{
    Stop();
}

pid_t CServerProcess::Pid() const
{
    return process_ ? process_->Pid() : -1;
}

std::filesystem::path CServerProcess::Folder() const
{
    return folder_ ? folder_->Path() : std::filesystem::path();
}

std::string CServerProcess::DirectoryXml(unsigned port, unsigned users, unsigned friends)
{
    return LoadDirectory(port, users, friends).Xml();
}

bool CServerProcess::Start(const std::string& program, unsigned users, unsigned friends, std::string& error)
{
    try {
        folder_ = std::make_unique<TempFolder>("quorvel-load");
    } catch (const std::exception& failure) {
        error = failure.what();
        return false;
    }
    if (std::getenv("QUORVEL_LOAD_KEEP") != nullptr)
        folder_->Keep();
    port_ = FreePort();
    if (port_ == 0 || !LoadDirectory(port_, users, friends).WriteTo(folder_->Path())) {
        error = "no free port, or the directory file could not be written";
        return false;
    }
    const auto output = folder_->Path() / "stdout.log";
    process_ = std::make_unique<QuorveldProcess>(folder_->Path(), program);
    if (!process_->Start({}, output)) {
        error = "cannot start " + program;
        return false;
    }
    if (!process_->SendLine("start")) {
        error = "cannot talk to the server";
        return false;
    }
    if (!process_->WaitUntilAccepting(port_, std::chrono::seconds(30))) {
        error = process_->Running() ? "the server did not listen within 30 s"
                                    : "the server ended at start-up; see " + output.string();
        return false;
    }
    return true;
}

void CServerProcess::Stop()
{
    if (process_)
        process_->Stop(std::chrono::seconds(10));
    process_.reset();
    folder_.reset();
}

} // namespace quorvel::load
