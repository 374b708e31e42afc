// Makes N small calls through the shared library, for counting the library's
// user-space instructions per call under callgrind:
//
//   tqbse_bench_calls set|get N
//   tqbse_bench_calls scenario|trace N      (1 MiB scenario, 100k-point trace)
//
// It expects the benchmark server (tqbse_bench --serve) on 127.0.0.40:6002.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tqBsePluginControlDll.h"

namespace {
// The sizes, name and handle that tqbse_bench --serve answers (workloads.cpp).
constexpr std::size_t kScenarioBytes = 1u << 20;
constexpr int32_t kTracePoints = 100'000;
}

int main(int argc, char** argv)
{
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode != "set" && mode != "get" && mode != "scenario" && mode != "trace") {
        std::fprintf(stderr, "usage: %s set|get|scenario|trace N\n", argv[0]);
        return 2;
    }
    const long count = std::atol(argv[2]);
    if (count < 0 || count > 1'000'000) {
        std::fprintf(stderr, "N must be 0 to 1000000\n");
        return 2;
    }
    if (const int32_t rc = tqBsePluginControlDll_Initialise(127, 0, 0, 40); rc != 0) {
        std::fprintf(stderr, "Initialise returned %d\n", rc);
        return 1;
    }
    double frequency = 0;
    const std::string scenario = "bench_" + std::to_string(kScenarioBytes) + ".scn";
    std::vector<char> text(kScenarioBytes + 1);
    std::vector<double> x(kTracePoints), y(kTracePoints);
    for (long i = 0; i < count; ++i) {
        int32_t rc = 0;
        if (mode == "set")
            rc = tqBsePluginControlDll_RX_CentreFrequency_Set(0, 1.0e9);
        else if (mode == "get")
            rc = tqBsePluginControlDll_RX_CentreFrequency_Get(0, &frequency);
        else if (mode == "scenario")
            rc = tqBsePluginControlDll_Scenario_Download(scenario.c_str(), int32_t(scenario.size()), text.data(),
                                                         int32_t(text.size()));
        else
            rc = tqBsePluginControlDll_LTE_Results_GetTrace(7, kTracePoints, x.data(), y.data(), kTracePoints);
        if (rc != 0) {
            std::fprintf(stderr, "call %ld returned %d\n", i, rc);
            return 1;
        }
    }
    tqBsePluginControlDll_Shutdown();
    std::printf("%ld calls\n", count);
    return 0;
}
