// Times the .NET binding against the C calls on the same emulator: a small call (RX_CentreFrequency_Get)
// and a large trace (length query, allocation, fetch). Prints the figures and their ratios; the targets
// (.NET call at most 1.5x the C call's time, trace throughput at least 0.8x C's) are for the reader.
//   Tqbse.Bench [--calls N] [--trace-points N] [--rounds N] [--c-baseline PATH]
// The C baseline is dotnet/bench/c_baseline.c built against the library (TQBSE_BENCH_C or --c-baseline);
// without it only the .NET figures are printed.
using System;
using System.Diagnostics;
using System.IO;
using System.Globalization;
using Tqbse;
using Tqbse.Tests;

int calls = 2000, points = 1_000_000, rounds = 5;
string? baseline = Environment.GetEnvironmentVariable("TQBSE_BENCH_C");
for (int i = 0; i + 1 < args.Length; i += 2)
{
    switch (args[i])
    {
        case "--calls": calls = int.Parse(args[i + 1], CultureInfo.InvariantCulture); break;
        case "--trace-points": points = int.Parse(args[i + 1], CultureInfo.InvariantCulture); break;
        case "--rounds": rounds = int.Parse(args[i + 1], CultureInfo.InvariantCulture); break;
        case "--c-baseline": baseline = args[i + 1]; break;
        default: Console.Error.WriteLine($"unknown option {args[i]}"); return 2;
    }
}

using var emulator = new Emulator("--trace-length", points.ToString(CultureInfo.InvariantCulture));
double? cCallUs = null, cPointsPerS = null;
if (!string.IsNullOrEmpty(baseline) && File.Exists(baseline))
{
    var info = new ProcessStartInfo(baseline, $"{emulator.Address} {calls} {rounds}") { RedirectStandardOutput = true };
    using var c = Process.Start(info)!;
    string output = c.StandardOutput.ReadToEnd();
    if (!c.WaitForExit(300_000) || c.ExitCode != 0) { Console.Error.WriteLine($"{baseline} failed: {output}"); return 1; }
    foreach (string line in output.Split('\n', StringSplitOptions.RemoveEmptyEntries))
    {
        string[] parts = line.Split(' ');
        double value = double.Parse(parts[1], CultureInfo.InvariantCulture);
        if (parts[0] == "small_call_us") cCallUs = value; else if (parts[0] == "trace_points_per_s") cPointsPerS = value;
    }
}

void Report(string what, ITqbseCalls bse)
{
    for (int i = 0; i < calls / 10 + 1; i++) bse.RxCentreFrequencyGet(0);
    var clock = Stopwatch.StartNew();
    for (int i = 0; i < calls; i++) bse.RxCentreFrequencyGet(0);
    double callUs = clock.Elapsed.TotalMilliseconds * 1000 / calls;

    bse.ProtocolMeasurementEnabledSet(0, true);
    int handle = bse.ProtocolResultsGetHandle();
    long fetched = 0;
    clock.Restart();
    for (int r = 0; r < rounds; r++) fetched += bse.ProtocolResultsGetTrace(handle, 0).XValues.Length;
    double pointsPerS = fetched / clock.Elapsed.TotalSeconds;

    Console.WriteLine($"{what,-22} small call {callUs,9:F2} us" + (cCallUs is double cu ? $"  (C {cu:F2} us, ratio {callUs / cu:F2}x; target <= 1.5x)" : ""));
    Console.WriteLine($"{what,-22} trace      {pointsPerS / 1e6,9:F2} M points/s" + (cPointsPerS is double cp ? $"  (C {cp / 1e6:F2} M/s, ratio {pointsPerS / cp:F2}x; target >= 0.8x)" : ""));
}

// Each connection kind on an emulator of its own: a connection opened in this process after another one
// to the same server was closed was seen several times slower per call.
bool sessions = System.Runtime.InteropServices.NativeLibrary.TryLoad("tqBsePluginControlDll", typeof(Session).Assembly, null, out IntPtr lib)
    && System.Runtime.InteropServices.NativeLibrary.TryGetExport(lib, "tqbse_open", out _);
if (sessions)
{
    using var own = new Emulator("--trace-length", points.ToString(CultureInfo.InvariantCulture));
    using var session = Session.Open(own.Address);
    Report(".NET session", session);
}
else
{
    Console.WriteLine(".NET session           (the library exports no tqbse_open: not measured)");
}
using (var flat = DefaultSession.Connect(emulator.Address)) Report(".NET flat connection", flat);
Console.WriteLine($"{calls} small calls, {rounds} traces of {points} points");
return 0;
