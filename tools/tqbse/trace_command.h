// tqbse trace FILE: the library's call trace decoded through the call rows
// (docs/TRACE.md), and its latency plot.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tqbse::cli {

// The arguments after "trace". Exit status 0, 1 when the plot cannot be
// written, 2 on bad usage or an unreadable file.
int runTraceCommand(FILE* out, const std::vector<std::string>& args);

// "Options of tqbse trace:" and one line per option, as --help shows them.
void printTraceOptions(FILE* out);

struct PlotPoint {
    std::string name; // the export
    double seconds;   // after the trace's first line
    int64_t micros;   // the reply's duration
    bool failed;      // a negative result
};
// An SVG drawing: latency over time (log scale, one colour per export, a
// failed call ringed in red) and a latency histogram per export over the
// range of reply times the trace has (bars of failed calls in red, each
// row's tallest bar labelled with its count). False when the file cannot be
// written.
bool writeLatencyPlot(const std::string& path, const std::vector<PlotPoint>& points);

} // namespace tqbse::cli
