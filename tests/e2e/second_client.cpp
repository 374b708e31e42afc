// A second client process for the emulator tests: connects to 127.0.0.10
// on the port argv[3] (its callback listener on a free port of its own),
// makes argv[2] round trips (set and read back a value of its own, list the
// scenarios), uploads a scenario named argv[1], and exits 0 when every
// answer was right.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/sockets.h"
#include "tqBsePluginControlDll.h"

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    const std::string name = argv[1];
    const int rounds = std::atoi(argv[2]);
    const int port = std::atoi(argv[3]);
    if (port <= 0 || port > 65535)
        return 2;
    tqbse::setPortsForTesting(uint16_t(port), tqbse::test::freePort());
    if (tqBsePluginControlDll_Initialise(127, 0, 0, 10) != 0)
        return 3;
    int failures = 0;
    for (int i = 0; i < rounds && i < 100000; ++i) {
        double f = 0;
        failures += tqBsePluginControlDll_TX_CentreFrequency_Set(1, 1.0e9 + i) != 0;
        failures += tqBsePluginControlDll_TX_CentreFrequency_Get(1, &f) != 0;
        int32_t count = 0;
        failures += tqBsePluginControlDll_Scenario_Count_Get(&count) != 0 || count < 1;
    }
    const std::string content = "<scenario from=\"" + name + "\"/>";
    failures += tqBsePluginControlDll_Scenario_Upload(name.c_str(), 256, content.c_str(), 1 << 20) != 0;
    int32_t size = 0;
    failures += tqBsePluginControlDll_Scenario_DownloadSize_Get(name.c_str(), 256, &size) != 0
        || size != int32_t(content.size());
    tqBsePluginControlDll_Shutdown();
    std::printf("second client: %d failures\n", failures);
    return failures == 0 ? 0 : 1;
}
