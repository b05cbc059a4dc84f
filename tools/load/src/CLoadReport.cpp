#include "CLoadReport.h"

#include "CSvgChart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>

namespace quorvel::load {

std::string CLoadReport::Format(double value)
{
    char text[48];
    if (std::fabs(value - std::round(value)) < 1e-9 && std::fabs(value) < 1e15)
        std::snprintf(text, sizeof text, "%.0f", value);
    else
        std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

void CLoadReport::PrintTable(std::ostream& out, const CLoadResult& result)
{
    std::size_t width = 10;
    for (const auto& m : result.metrics)
        width = std::max(width, m.label.size());
    out << "scenario " << result.scenario << ":";
    for (const auto& [name, value] : result.parameters)
        out << " " << name << "=" << value;
    out << "\n";
    out << std::left << std::setw(static_cast<int>(width)) << "measure" << "  " << std::right << std::setw(14)
        << "value" << "  unit\n";
    out << std::string(width + 24, '-') << "\n";
    for (const auto& m : result.metrics)
        out << std::left << std::setw(static_cast<int>(width)) << m.label << "  " << std::right << std::setw(14)
            << Format(m.value) << "  " << m.unit << "\n";
    if (result.checked)
        out << "exactly once, in order per sender: " << (result.passed ? "yes" : "NO") << " (" << result.checkText
            << ")\n";
    for (const auto& note : result.notes)
        out << "note: " << note << "\n";
}

std::string CLoadReport::ResultLine(const CLoadResult& result)
{
    std::string line = "RESULT scenario=" + result.scenario;
    for (const auto& m : result.metrics)
        line += " " + m.key + "=" + Format(m.value);
    if (result.checked)
        line += std::string(" checks=") + (result.passed ? "pass" : "FAIL");
    return line;
}

std::string CLoadReport::Html(const CLoadResult& result)
{
    using E = CSvgChart;
    std::string h = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>quorvel-load " +
                    E::Escape(result.scenario) +
                    "</title>\n<style>body{font-family:sans-serif;margin:24px;color:#222}"
                    "table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:3px 10px}"
                    "td.n{text-align:right}.pass{color:#2da44e}.fail{color:#cf222e}</style></head><body>\n";
    h += "<h1>quorvel-load: " + E::Escape(result.scenario) + "</h1>\n<h2>Parameters</h2><table>";
    for (const auto& [name, value] : result.parameters)
        h += "<tr><td>" + E::Escape(name) + "</td><td>" + E::Escape(value) + "</td></tr>";
    h += "</table>\n<h2>Results</h2><table><tr><th>measure</th><th>value</th><th>unit</th></tr>";
    for (const auto& m : result.metrics)
        h += "<tr><td>" + E::Escape(m.label) + "</td><td class=\"n\">" + Format(m.value) + "</td><td>" +
             E::Escape(m.unit) + "</td></tr>";
    h += "</table>\n";
    if (result.checked)
        h += std::string("<p class=\"") + (result.passed ? "pass" : "fail") +
             "\">Every message arrived exactly once and in order per sender: " + (result.passed ? "yes" : "NO") +
             " (" + E::Escape(result.checkText) + ")</p>\n";
    for (const auto& note : result.notes)
        h += "<p>Note: " + E::Escape(note) + "</p>\n";
    const double step = std::chrono::duration<double>(result.throughput.Slice()).count();
    h += "<h2>Throughput over time (" + E::Escape(result.throughputWhat) + " per second)</h2>\n" +
         E::Line(result.throughput.Rates(), step, result.throughputWhat + "/s") + "\n";
    h += "<h2>Latency (" + std::to_string(result.latency.Count()) + " samples; p50 " +
         E::Micros(static_cast<double>(result.latency.Percentile(0.5))) + ", p99 " +
         E::Micros(static_cast<double>(result.latency.Percentile(0.99))) + ", max " +
         E::Micros(static_cast<double>(result.latency.Max())) + ")</h2>\n" + E::Histogram(result.latency) + "\n";
    h += "</body></html>\n";
    return h;
}

bool CLoadReport::WriteHtml(const std::string& path, const CLoadResult& result)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << Html(result);
    return static_cast<bool>(file.flush());
}

} // namespace quorvel::load
