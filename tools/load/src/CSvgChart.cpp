#include "CSvgChart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quorvel::load {

namespace {

constexpr int kLeft = 70;
constexpr int kRight = 20;
constexpr int kTop = 20;
constexpr int kBottom = 40;

std::string Number(double v)
{
    char text[32];
    if (v >= 1e6)
        std::snprintf(text, sizeof text, "%.2fM", v / 1e6);
    else if (v >= 1e4)
        std::snprintf(text, sizeof text, "%.0fk", v / 1e3);
    else
        std::snprintf(text, sizeof text, "%.0f", v);
    return text;
}

std::string Text(double x, double y, const std::string& s, const char* anchor = "middle")
{
    char head[96];
    std::snprintf(head, sizeof head, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"%s\" font-size=\"11\">", x, y, anchor);
    return head + CSvgChart::Escape(s) + "</text>";
}

std::string Frame(const std::string& body)
{
    char head[160];
    std::snprintf(head, sizeof head,
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\">",
                  CSvgChart::kWidth, CSvgChart::kHeight, CSvgChart::kWidth, CSvgChart::kHeight);
    return head + std::string("<rect width=\"100%\" height=\"100%\" fill=\"#fff\" stroke=\"#ccc\"/>") + body + "</svg>";
}

std::string Axes()
{
    char path[160];
    std::snprintf(path, sizeof path, "<path d=\"M%d %d V%d H%d\" stroke=\"#333\" fill=\"none\"/>", kLeft, kTop,
                  CSvgChart::kHeight - kBottom, CSvgChart::kWidth - kRight);
    return path;
}

} // namespace

std::string CSvgChart::Escape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string CSvgChart::Micros(double micros)
{
    char text[32];
    if (micros >= 1e6)
        std::snprintf(text, sizeof text, "%.2f s", micros / 1e6);
    else if (micros >= 1e3)
        std::snprintf(text, sizeof text, "%.2f ms", micros / 1e3);
    else
        std::snprintf(text, sizeof text, "%.0f us", micros);
    return text;
}

std::string CSvgChart::Line(const std::vector<double>& values, double stepSeconds, const std::string& yLabel)
{
    const double plotW = kWidth - kLeft - kRight;
    const double plotH = kHeight - kTop - kBottom;
    std::string body = Axes();
    if (values.empty())
        return Frame(body + Text(kWidth / 2.0, kHeight / 2.0, "no data"));
    const double top = std::max(1.0, *std::max_element(values.begin(), values.end()) * 1.1);
    const double span = std::max(stepSeconds * static_cast<double>(values.size()), stepSeconds);
    std::string points;
    char pt[48];
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double x = kLeft + plotW * (static_cast<double>(i) + 0.5) * stepSeconds / span;
        const double y = kTop + plotH * (1.0 - values[i] / top);
        std::snprintf(pt, sizeof pt, "%.1f,%.1f ", x, y);
        points += pt;
    }
    body += "<polyline fill=\"none\" stroke=\"#1f6feb\" stroke-width=\"1.5\" points=\"" + points + "\"/>";
    for (int i = 0; i <= 4; ++i) {
        const double v = top * i / 4.0;
        body += Text(kLeft - 6, kTop + plotH * (1.0 - i / 4.0) + 4, Number(v), "end");
        char t[24];
        std::snprintf(t, sizeof t, "%.1f s", span * i / 4.0);
        body += Text(kLeft + plotW * i / 4.0, kHeight - kBottom + 16, t);
    }
    body += Text(kLeft + plotW / 2, kHeight - 6, "time since start");
    body += Text(8, kTop - 6, yLabel, "start");
    return Frame(body);
}

std::string CSvgChart::Histogram(const CLatencyHistogram& histogram)
{
    const double plotW = kWidth - kLeft - kRight;
    const double plotH = kHeight - kTop - kBottom;
    std::string body = Axes();
    const auto buckets = histogram.Buckets();
    if (buckets.empty())
        return Frame(body + Text(kWidth / 2.0, kHeight / 2.0, "no data"));
    // Logarithmic x axis over [lowest bucket, highest bucket).
    const double lo = std::log10(std::max<double>(1.0, static_cast<double>(buckets.front().low)));
    const double hi = std::max(lo + 1.0, std::log10(static_cast<double>(buckets.back().high)));
    auto xOf = [&](double micros) {
        return kLeft + plotW * (std::log10(std::max(1.0, micros)) - lo) / (hi - lo);
    };
    std::uint64_t most = 1;
    for (const auto& b : buckets)
        most = std::max(most, b.count);
    char rect[160];
    for (const auto& b : buckets) {
        const double x0 = xOf(static_cast<double>(b.low));
        const double x1 = std::max(x0 + 1.0, xOf(static_cast<double>(b.high)));
        const double h = plotH * static_cast<double>(b.count) / static_cast<double>(most);
        std::snprintf(rect, sizeof rect, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#8fb8f0\"/>",
                      x0, kTop + plotH - h, x1 - x0, h);
        body += rect;
    }
    struct Marker {
        const char* name;
        double micros;
        const char* color;
    };
    const Marker markers[] = {{"p50", static_cast<double>(histogram.Percentile(0.5)), "#2da44e"},
                              {"p99", static_cast<double>(histogram.Percentile(0.99)), "#bf8700"},
                              {"max", static_cast<double>(histogram.Max()), "#cf222e"}};
    int row = 0;
    for (const auto& m : markers) {
        const double x = xOf(m.micros);
        char line[160];
        std::snprintf(line, sizeof line, "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" stroke-width=\"2\"/>",
                      x, kTop, x, kTop + plotH, m.color);
        body += line;
        body += Text(std::min(x + 4, kWidth - 120.0), kTop + 12 + 14 * row++, std::string(m.name) + " " + Micros(m.micros), "start");
    }
    for (double decade = std::ceil(lo); decade <= hi; decade += 1.0)
        body += Text(xOf(std::pow(10.0, decade)), kHeight - kBottom + 16, Micros(std::pow(10.0, decade)));
    body += Text(kLeft + plotW / 2, kHeight - 6, "latency (log scale)");
    body += Text(8, kTop - 6, "messages", "start");
    return Frame(body);
}

} // namespace quorvel::load
