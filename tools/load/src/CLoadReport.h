#pragma once

#include "CLoadResult.h"

#include <ostream>
#include <string>

namespace quorvel::load {

// Presents a scenario's result: a table on the terminal, one machine-readable
// line for scripts, and a self-contained HTML file (inline SVG, no external
// asset). Pure functions of the result.
class CLoadReport {
public:
    static void PrintTable(std::ostream& out, const CLoadResult& result);
    // "RESULT scenario=relay msgs_per_s=123456 ... checks=pass": what
    // scripts/load.sh collects to take medians.
    static std::string ResultLine(const CLoadResult& result);
    static std::string Html(const CLoadResult& result);
    // Writes Html to `path`; false when the file cannot be written.
    static bool WriteHtml(const std::string& path, const CLoadResult& result);
    // A value as the table shows it: integers plainly, others with 2 digits.
    static std::string Format(double value);
};

} // namespace quorvel::load
