#pragma once

#include "CLatencyHistogram.h"

#include <string>
#include <vector>

namespace quorvel::load {

// Inline SVG drawings for the HTML report: no script, no external asset.
// Pure functions of their input.
class CSvgChart {
public:
    static constexpr int kWidth = 720;
    static constexpr int kHeight = 260;

    // A line of `values` sampled every `stepSeconds`, with axes and labels.
    static std::string Line(const std::vector<double>& values, double stepSeconds, const std::string& yLabel);
    // Bars of the non-empty latency buckets on a logarithmic time axis, with
    // vertical markers at p50, p99 and the maximum.
    static std::string Histogram(const CLatencyHistogram& histogram);
    // "1.5 ms", "820 us", "2.1 s".
    static std::string Micros(double micros);
    // Escapes &, <, >, " for HTML text and attributes.
    static std::string Escape(const std::string& text);
};

} // namespace quorvel::load
