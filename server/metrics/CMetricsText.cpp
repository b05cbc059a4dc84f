#include "CMetricsText.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>

namespace quorvel::metrics {

using host::CServerStatus;
using service::CServiceCounters;
using store::CMsgCache;

namespace {

// Appends metric families: one HELP and TYPE head per family, then samples.
class Writer {
public:
    void Family(const char* name, const char* type, const char* help)
    {
        name_ = name;
        text_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    void Sample(std::uint64_t value, const std::string& labels = {})
    {
        char number[32];
        std::snprintf(number, sizeof number, "%" PRIu64, value);
        Line(labels, number);
    }
    void Seconds(std::chrono::microseconds value)
    {
        char number[40];
        std::snprintf(number, sizeof number, "%.6f", static_cast<double>(value.count()) / 1e6);
        Line({}, number);
    }
    std::string Take() { return std::move(text_); }

private:
    void Line(const std::string& labels, const char* number)
    {
        text_ += name_;
        if (!labels.empty())
            text_ += "{" + labels + "}";
        text_ += " ";
        text_ += number;
        text_ += "\n";
    }

    std::string text_;
    std::string name_;
};

std::string Label(const char* name, const std::string& value)
{
    return std::string(name) + "=\"" + CMetricsText::EscapeLabel(value) + "\"";
}

void Service(Writer& out, const CServerStatus::Snapshot& s)
{
    out.Family("quorvel_service_running", "gauge", "1 while the message service exists.");
    out.Sample(s.running ? 1 : 0);
    out.Family("quorvel_listening", "gauge", "1 while the service has its listening socket.");
    out.Sample(s.listening ? 1 : 0);
    out.Family("quorvel_connections", "gauge", "Open connections of the service.");
    out.Sample(s.connections);
    out.Family("quorvel_connections_accepted_total", "counter", "Connections accepted since start.");
    out.Sample(s.counters.connections);
    out.Family("quorvel_users_logged_in", "gauge", "Distinct users logged in on an open connection.");
    out.Sample(s.usersLoggedIn);
    out.Family("quorvel_logins_total", "counter", "Login requests answered, by result.");
    out.Sample(s.counters.loginsOk, Label("result", "ok"));
    out.Sample(s.counters.loginsFailed, Label("result", "failed"));
}

void Messages(Writer& out, const CServiceCounters::Values& c)
{
    out.Family("quorvel_messages_received_total", "counter", "Messages received, by type.");
    for (std::size_t i = 0; i < CServiceCounters::kTypes.size(); ++i)
        out.Sample(c.received[i], Label("type", CServiceCounters::kTypes[i]));
    out.Family("quorvel_messages_relayed_total", "counter", "Messages sent on to a connected user at arrival.");
    out.Sample(c.relayed);
    out.Family("quorvel_messages_stored_total", "counter", "Messages filed in the message store.");
    out.Sample(c.stored);
    out.Family("quorvel_messages_delivered_total", "counter", "Stored messages written to a user's connection.");
    out.Sample(c.delivered);
    out.Family("quorvel_messages_routed_total", "counter", "Stored messages a route server took.");
    out.Sample(c.routed);
    out.Family("quorvel_refused_total", "counter", "Requests or messages refused or cut by a bound, by bound.");
    for (const auto& [limit, count] : c.refused)
        out.Sample(count, Label("limit", limit));
}

void Store(Writer& out, const CMsgCache::Stats& store)
{
    out.Family("quorvel_store_pending_messages", "gauge", "Stored messages not yet delivered, by where they go.");
    out.Sample(store.local.messages, Label("target", "local"));
    out.Sample(store.other.messages, Label("target", "other"));
    out.Family("quorvel_store_pending_bytes", "gauge", "Bytes of stored messages not yet delivered.");
    out.Sample(store.local.bytes, Label("target", "local"));
    out.Sample(store.other.bytes, Label("target", "other"));
    out.Family("quorvel_store_file_bytes", "gauge", "Sizes of the message store's files.");
    out.Sample(store.indexFileBytes, Label("file", "msg_index.dat"));
    out.Sample(store.dataFileBytes, Label("file", "msg_data.dat"));
}

void Timing(Writer& out, const CServerStatus::Snapshot& s)
{
    const CServiceCounters::Values& c = s.counters;
    out.Family("quorvel_worker_cycle_seconds", "gauge",
               "Duration of the delivery worker's last cycle, without its pause.");
    out.Seconds(c.workerCycle);
    out.Family("quorvel_worker_cycles_total", "counter", "Delivery worker cycles run.");
    out.Sample(c.workerCycles);
    out.Family("quorvel_service_loop_lag_seconds", "gauge", "How late the service loop ran its last one-second tick.");
    out.Seconds(c.loopLag);
    out.Family("process_resident_memory_bytes", "gauge", "Resident memory of the process.");
    out.Sample(s.residentBytes);
    out.Family("quorvel_uptime_seconds", "counter", "Seconds since the program started.");
    out.Sample(static_cast<std::uint64_t>(c.uptime.count()));
}

} // namespace

std::string CMetricsText::Render(const CServerStatus::Snapshot& snapshot)
{
    Writer out;
    Service(out, snapshot);
    Messages(out, snapshot.counters);
    Store(out, snapshot.store);
    Timing(out, snapshot);
    return out.Take();
}

std::string CMetricsText::EscapeLabel(const std::string& value)
{
    std::string escaped;
    for (const char c : value) {
        if (c == '\\' || c == '"')
            escaped += '\\';
        if (c == '\n') {
            escaped += "\\n";
            continue;
        }
        escaped += c;
    }
    return escaped;
}

} // namespace quorvel::metrics
