/* The C side of the .NET benchmark: the same small call and the same trace read through the flat
 * exports, timed the same way. Usage: c_baseline ADDRESS CALLS TRACE_ROUNDS
 * Prints "small_call_us <microseconds per call>" and "trace_points_per_s <points per second>". */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "tqBsePluginControlDll.h"

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: c_baseline ADDRESS CALLS TRACE_ROUNDS\n");
        return 2;
    }
    int octets[4];
    if (sscanf(argv[1], "%d.%d.%d.%d", &octets[0], &octets[1], &octets[2], &octets[3]) != 4) return 2;
    long calls = atol(argv[2]), rounds = atol(argv[3]);
    if (tqBsePluginControlDll_Initialise(octets[0], octets[1], octets[2], octets[3]) < 0) return 1;

    double frequency = 0;
    for (long i = 0; i < calls / 10 + 1; i++) tqBsePluginControlDll_RX_CentreFrequency_Get(0, &frequency);
    double start = now();
    for (long i = 0; i < calls; i++)
        if (tqBsePluginControlDll_RX_CentreFrequency_Get(0, &frequency) < 0) return 1;
    printf("small_call_us %.3f\n", (now() - start) / (double)calls * 1e6);

    tqBsePluginControlDll_Protocol_MeasurementEnabled_Set(0, -1);
    int handle = 0, length = 0;
    if (tqBsePluginControlDll_Protocol_Results_GetHandle(&handle) < 0) return 1;
    long points = 0;
    start = now();
    for (long r = 0; r < rounds; r++) {
        /* As a caller must: ask the length, allocate, fetch. */
        if (tqBsePluginControlDll_Protocol_Results_GetTraceLength(handle, 0, &length) < 0) return 1;
        double* x = malloc(sizeof(double) * (size_t)(length > 0 ? length : 1));
        double* y = malloc(sizeof(double) * (size_t)(length > 0 ? length : 1));
        if (!x || !y || tqBsePluginControlDll_Protocol_Results_GetTrace(handle, 0, x, y, length) < 0) return 1;
        points += length;
        free(x);
        free(y);
    }
    printf("trace_points_per_s %.0f\n", (double)points / (now() - start));
    tqBsePluginControlDll_Shutdown();
    return 0;
}
