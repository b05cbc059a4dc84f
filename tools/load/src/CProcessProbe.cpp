#include "CProcessProbe.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace quorvel::load {

namespace {

// The fields of a /proc stat line after the command name, which may hold
// blanks: fields[0] is the state (field 3 of proc(5)).
std::optional<std::vector<std::string>> StatFields(const std::filesystem::path& path)
{
    std::ifstream file(path);
    std::string line;
    if (!std::getline(file, line))
        return std::nullopt;
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream rest(line.substr(close + 1));
    std::vector<std::string> fields;
    for (std::string f; rest >> f;)
        fields.push_back(f);
    if (fields.size() < 39)
        return std::nullopt;
    return fields;
}

double TicksToMs(const std::vector<std::string>& f)
{
    // utime and stime are fields 14 and 15 of proc(5).
    const double ticks = std::stod(f[11]) + std::stod(f[12]);
    return ticks * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

} // namespace

std::optional<std::uint64_t> CProcessProbe::ResidentKb(int pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(file, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoull(line.substr(6));
    return std::nullopt;
}

std::optional<double> CProcessProbe::LowPriorityThreadsCpuMs(int pid)
{
    std::error_code ec;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    bool any = false;
    for (const auto& entry : std::filesystem::directory_iterator(tasks, ec)) {
        const auto f = StatFields(entry.path() / "stat");
        if (!f)
            continue;
        any = true;
        // nice is field 19, policy field 41 (5 = SCHED_IDLE). The run time
        // comes from schedstat, in nanoseconds: clock ticks are too coarse
        // for a thread that works a few milliseconds a second.
        const bool low = std::atoi((*f)[16].c_str()) >= 10 || (*f)[38] == "5";
        if (!low)
            continue;
        std::ifstream sched(entry.path() / "schedstat");
        double nanos = 0;
        if (sched >> nanos)
            total += nanos / 1e6;
        else
            total += TicksToMs(*f);
    }
    if (!any)
        return std::nullopt;
    return total;
}

std::optional<double> CProcessProbe::CpuMs(int pid)
{
    const auto f = StatFields("/proc/" + std::to_string(pid) + "/stat");
    if (!f)
        return std::nullopt;
    return TicksToMs(*f);
}

} // namespace quorvel::load
