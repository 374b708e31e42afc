// The latency plot of tqbse trace --plot: a self-contained SVG file, so that
// the tool needs nothing beyond itself to draw it (docs/TRACE.md).
#include "trace_command.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

namespace tqbse::cli {
namespace {

constexpr int kWidth = 960;
constexpr int kLeft = 70, kPlotWidth = 600, kScatterTop = 40, kScatterHeight = 300;
constexpr int kHistogramTop = kScatterTop + kScatterHeight + 70, kRowHeight = 34;
constexpr int kColouredExports = 9;
constexpr int kMaxRows = 16;
constexpr int kMaxBins = 40; // powers of two: 1 µs to 2^40 µs covers any reply time
constexpr int kAxisLabels = 6;
// No red among the exports' colours: red marks the failed calls.
constexpr const char* kColours[kColouredExports] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#393b79", "#9467bd",
                                                    "#8c564b", "#e377c2", "#17becf", "#bcbd22"};
constexpr const char* kOtherColour = "#999999";
constexpr const char* kFailedColour = "#e31a1c";

std::string escaped(const std::string& text)
{
    std::string out;
    for (const char c : text)
        out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : std::string(1, c);
    return out;
}

// The power of two a reply time falls in: [2^bin, 2^(bin+1)) µs.
int binOf(int64_t micros) { return std::min(kMaxBins - 1, int(std::log2(double(std::max<int64_t>(micros, 1))))); }

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
            if (p->failed) {
                std::snprintf(element, sizeof element,
                              "<circle class=\"failed\" cx=\"%.1f\" cy=\"%.1f\" r=\"5\" fill=\"none\" "
                              "stroke=\"%s\" stroke-width=\"1.5\"/>\n",
                              x(p->seconds), y(p->micros), kFailedColour);
                svg += element;
            }
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
    const std::size_t failed = std::size_t(std::count_if(points.begin(), points.end(), [](const PlotPoint& p) {
        return p.failed;
    }));
    const int legendBottom = kScatterTop + 14 + std::min<int>(int(exports.size()), kColouredExports + 1) * 16;
    std::snprintf(element, sizeof element,
                  "<circle cx=\"%d\" cy=\"%d\" r=\"5\" fill=\"none\" stroke=\"%s\" stroke-width=\"1.5\"/>"
                  "<text x=\"%d\" y=\"%d\">failed call (%zu)</text>\n",
                  kLeft + kPlotWidth + 20, legendBottom + 6, kFailedColour, kLeft + kPlotWidth + 30,
                  legendBottom + 10, failed);
    svg += element;

    // One histogram row per export: calls per power-of-two reply time, over
    // the powers the trace's reply times span.
    const int firstBin = points.empty() ? 0 : binOf(lo);
    const int bins = points.empty() ? 1 : binOf(hi) - firstBin + 1;
    std::snprintf(element, sizeof element, "<text x=\"%d\" y=\"%d\" font-size=\"14\">Reply times per export "
                  "(calls per power of two; failed calls in red)</text>\n", kLeft, kHistogramTop - 24);
    svg += element;
    const double binWidth = double(kPlotWidth) / bins;
    for (int row = 0; row < rows; ++row) {
        std::vector<int> counts(std::size_t(bins), 0), failures(std::size_t(bins), 0);
        for (const PlotPoint* p : exports[std::size_t(row)].second) {
            ++counts[std::size_t(binOf(p->micros) - firstBin)];
            failures[std::size_t(binOf(p->micros) - firstBin)] += p->failed ? 1 : 0;
        }
        const int most = *std::max_element(counts.begin(), counts.end());
        const int base = kHistogramTop + (row + 1) * kRowHeight - 4;
        const double full = kRowHeight - 8;
        // The count scale: the row's tallest bar, at its height.
        std::snprintf(element, sizeof element,
                      "<text x=\"%d\" y=\"%d\">%s (%zu)</text><line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" "
                      "stroke=\"#333\"/><line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%d\" stroke=\"#333\"/>"
                      "<text class=\"count\" x=\"%d\" y=\"%.1f\" text-anchor=\"end\">%d</text>\n",
                      kLeft + kPlotWidth + 10, base, escaped(exports[std::size_t(row)].first).c_str(),
                      exports[std::size_t(row)].second.size(), kLeft, base, kLeft + kPlotWidth, base, kLeft,
                      base - full, kLeft, base, kLeft - 4, base - full + 8, most);
        svg += element;
        for (int b = 0; b < bins; ++b) {
            if (counts[std::size_t(b)] == 0)
                continue;
            const double h = double(counts[std::size_t(b)]) / most * full;
            const double red = double(failures[std::size_t(b)]) / most * full;
            std::snprintf(element, sizeof element,
                          "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\"><title>%d calls "
                          "(%d failed), %s to %s</title></rect>\n",
                          kLeft + b * binWidth + 1, base - h, binWidth - 2, h, colour(std::size_t(row)),
                          counts[std::size_t(b)], failures[std::size_t(b)],
                          microsText(std::pow(2.0, firstBin + b)).c_str(),
                          microsText(std::pow(2.0, firstBin + b + 1)).c_str());
            svg += element;
            if (red > 0) {
                std::snprintf(element, sizeof element,
                              "<rect class=\"failed\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" "
                              "fill=\"%s\"/>\n",
                              kLeft + b * binWidth + 1, base - red, binWidth - 2, red, kFailedColour);
                svg += element;
            }
        }
    }
    const int axis = kHistogramTop + rows * kRowHeight + 14;
    // A few edges labelled, the last always; one too close to it is left out.
    const int step = std::max(1, (bins + kAxisLabels - 1) / kAxisLabels);
    for (int b = 0; b <= bins; b = b == bins ? bins + 1 : std::min(b + step, bins)) {
        if (b != 0 && b != bins && bins - b < (step + 1) / 2)
            continue;
        std::snprintf(element, sizeof element,
                      "<text class=\"bin\" x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">%s</text>\n",
                      kLeft + b * binWidth, axis, microsText(std::pow(2.0, firstBin + b)).c_str());
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
