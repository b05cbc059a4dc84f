#pragma once

#include "quorvel_host/CServerStatus.h"

#include <string>

namespace quorvel::metrics {

// The Prometheus text exposition format (version 0.0.4) of a status
// snapshot: every metric with its HELP and TYPE lines. The names and their
// meaning are listed in docs/operating.md. Any thread.
class CMetricsText {
public:
    static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

    static std::string Render(const host::CServerStatus::Snapshot& snapshot);
    // A label value with "\", the double quote and line feeds escaped.
    static std::string EscapeLabel(const std::string& value);
};

} // namespace quorvel::metrics
