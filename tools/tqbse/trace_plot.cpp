// The latency plot of tqbse trace --plot: a self-contained SVG file, so that
// the tool needs nothing beyond itself to draw it (docs/TRACE.md).
#include "trace_command.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace tqbse::cli {
namespace {

constexpr int kWidth = 960;
constexpr int kLeft = 70, kPlotWidth = 600, kScatterTop = 40, kScatterHeight = 300;
constexpr int kHistogramTop = kScatterTop + kScatterHeight + 70, kRowHeight = 34;
constexpr int kColouredExports = 9;
constexpr int kMaxRows = 16;
constexpr int kBins = 25; // powers of two from 1 µs to 2^24 µs (about 17 s)
constexpr const char* kColours[kColouredExports] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                                    "#8c564b", "#e377c2", "#17becf", "#bcbd22"};
constexpr const char* kOtherColour = "#999999";

std::string escaped(const std::string& text)
{
    std::string out;
    for (const char c : text)
        out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : std::string(1, c);
    return out;
}

int binOf(int64_t micros) { return std::min(kBins - 1, int(std::log2(double(std::max<int64_t>(micros, 1))))); }

std::string microsText(double micros)
{
    char text[32];
    if (micros >= 1e6)
        std::snprintf(text, sizeof text, "%.3g s", micros / 1e6);
    else if (micros >= 1e3)
        std::snprintf(text, sizeof text, "%.3g ms", micros / 1e3);
    else
        std::snprintf(text, sizeof text, "%.3g µs", micros);
    return text;
}

} // namespace

bool writeLatencyPlot(const std::string& path, const std::vector<PlotPoint>& points)
{
    // Exports by number of calls, most first; the first few get a colour each.
    std::map<std::string, std::vector<const PlotPoint*>> byName;
    for (const PlotPoint& p : points)
        byName[p.name].push_back(&p);
    std::vector<std::pair<std::string, std::vector<const PlotPoint*>>> exports(byName.begin(), byName.end());
    std::stable_sort(exports.begin(), exports.end(),
                     [](const auto& a, const auto& b) { return a.second.size() > b.second.size(); });
    auto colour = [](std::size_t rank) { return rank < kColouredExports ? kColours[rank] : kOtherColour; };

    double maxSeconds = 1e-6;
    int64_t lo = INT64_MAX, hi = 1;
    for (const PlotPoint& p : points) {
        maxSeconds = std::max(maxSeconds, p.seconds);
        lo = std::min(lo, std::max<int64_t>(p.micros, 1));
        hi = std::max(hi, p.micros);
    }
    const int lowDecade = points.empty() ? 0 : int(std::floor(std::log10(double(lo))));
    const int highDecade = std::max(lowDecade + 1, int(std::ceil(std::log10(double(std::max<int64_t>(hi, 1))))));
    auto x = [&](double seconds) { return kLeft + seconds / maxSeconds * kPlotWidth; };
    auto y = [&](int64_t micros) {
        const double decade = std::log10(double(std::max<int64_t>(micros, 1)));
        return kScatterTop + kScatterHeight - (decade - lowDecade) / (highDecade - lowDecade) * kScatterHeight;
    };

    const int rows = std::min<int>(int(exports.size()), kMaxRows);
    const int height = kHistogramTop + rows * kRowHeight + 50;
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kWidth) + "\" height=\""
        + std::to_string(height) + "\" font-family=\"sans-serif\" font-size=\"11\">\n"
        + "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        + "<text x=\"" + std::to_string(kLeft) + "\" y=\"24\" font-size=\"14\">Reply time of each call over the trace ("
        + std::to_string(points.size()) + " calls)</text>\n";
    char element[512];
    // Axes and decade lines of the scatter plot.
    for (int d = lowDecade; d <= highDecade; ++d) {
        const double at = y(int64_t(std::pow(10.0, d)));
        std::snprintf(element, sizeof element,
                      "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#ddd\"/>"
                      "<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\">%s</text>\n",
                      kLeft, at, kLeft + kPlotWidth, at, kLeft - 6, at + 4, microsText(std::pow(10.0, d)).c_str());
        svg += element;
    }
    std::snprintf(element, sizeof element,
                  "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"none\" stroke=\"#333\"/>"
                  "<text x=\"%d\" y=\"%d\">0 s</text><text x=\"%d\" y=\"%d\" text-anchor=\"end\">%.3f s</text>\n",
                  kLeft, kScatterTop, kPlotWidth, kScatterHeight, kLeft, kScatterTop + kScatterHeight + 16,
                  kLeft + kPlotWidth, kScatterTop + kScatterHeight + 16, maxSeconds);
    svg += element;
    for (std::size_t rank = 0; rank < exports.size(); ++rank) {
        for (const PlotPoint* p : exports[rank].second) {
            std::snprintf(element, sizeof element, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.5\" fill=\"%s\"/>\n",
                          x(p->seconds), y(p->micros), colour(rank));
            svg += element;
        }
        if (rank <= kColouredExports) {
            const bool other = rank == kColouredExports;
            std::snprintf(element, sizeof element,
                          "<circle cx=\"%d\" cy=\"%d\" r=\"4\" fill=\"%s\"/><text x=\"%d\" y=\"%d\">%s</text>\n",
                          kLeft + kPlotWidth + 20, kScatterTop + 10 + int(rank) * 16, colour(rank),
                          kLeft + kPlotWidth + 30, kScatterTop + 14 + int(rank) * 16,
                          other ? "every other export" : escaped(exports[rank].first).c_str());
            svg += element;
        }
    }
    // One histogram row per export: calls per power-of-two reply time.
    std::snprintf(element, sizeof element, "<text x=\"%d\" y=\"%d\" font-size=\"14\">Reply times per export "
                  "(calls per power of two)</text>\n", kLeft, kHistogramTop - 24);
    svg += element;
    const double binWidth = double(kPlotWidth) / kBins;
    for (int row = 0; row < rows; ++row) {
        int counts[kBins] = {};
        for (const PlotPoint* p : exports[std::size_t(row)].second)
            ++counts[binOf(p->micros)];
        const int most = *std::max_element(counts, counts + kBins);
        const int base = kHistogramTop + (row + 1) * kRowHeight - 4;
        std::snprintf(element, sizeof element,
                      "<text x=\"%d\" y=\"%d\">%s (%zu)</text><line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" "
                      "stroke=\"#333\"/>\n",
                      kLeft + kPlotWidth + 10, base, escaped(exports[std::size_t(row)].first).c_str(),
                      exports[std::size_t(row)].second.size(), kLeft, base, kLeft + kPlotWidth, base);
        svg += element;
        for (int b = 0; b < kBins; ++b) {
            if (counts[b] == 0)
                continue;
            const double h = double(counts[b]) / most * (kRowHeight - 8);
            std::snprintf(element, sizeof element,
                          "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\"><title>%d calls, "
                          "%s to %s</title></rect>\n",
                          kLeft + b * binWidth + 1, base - h, binWidth - 2, h, colour(std::size_t(row)), counts[b],
                          microsText(std::pow(2.0, b)).c_str(), microsText(std::pow(2.0, b + 1)).c_str());
            svg += element;
        }
    }
    const int axis = kHistogramTop + rows * kRowHeight + 14;
    for (int b = 0; b <= kBins; b += 5) {
        std::snprintf(element, sizeof element, "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">%s</text>\n",
                      kLeft + b * binWidth, axis, microsText(std::pow(2.0, b)).c_str());
        svg += element;
    }
    svg += "</svg>\n";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(svg.data(), 1, svg.size(), file) == svg.size();
    return std::fclose(file) == 0 && written;
}

} // namespace tqbse::cli
