#pragma once

#include "CLatencyHistogram.h"
#include "CThroughputSeries.h"

#include <string>
#include <utility>
#include <vector>

namespace quorvel::load {

// What one scenario run measured, for the table and the report. A plain value.
struct CLoadResult {
    struct Metric {
        std::string key;   // machine-readable name, e.g. "msgs_per_s"
        std::string label; // what the table shows
        double value = 0;
        std::string unit;
    };

    std::string scenario;
    std::vector<std::pair<std::string, std::string>> parameters;
    std::vector<Metric> metrics;

    // Delivery latency of the measured messages, and deliveries over time.
    CLatencyHistogram latency;
    CThroughputSeries throughput;
    std::string throughputWhat = "messages delivered";

    // Exactly-once and per-sender order check; `checked` false when the
    // scenario moves no numbered messages.
    bool checked = false;
    bool passed = true;
    std::string checkText;
    // Problems met on the way (connections lost, logins refused ...).
    std::vector<std::string> notes;

    void Add(std::string key, std::string label, double value, std::string unit)
    {
        metrics.push_back({std::move(key), std::move(label), value, std::move(unit)});
    }
    void Parameter(std::string name, std::string value) { parameters.emplace_back(std::move(name), std::move(value)); }
};

} // namespace quorvel::load
