using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Net;
using System.Net.Sockets;
using System.Threading;

namespace Tqbse.Tests;

/// <summary>
/// A tqbse-emulator on a loopback address of its own, port 6002 (the library's fixed port): TQBSE_EMULATOR,
/// else build/emulator/tqbse-emulator of this tree. Stopped (SIGKILL after 5 s) by Dispose.
/// </summary>
public sealed class Emulator : IDisposable
{
    private static int _next = Environment.ProcessId % 32;
    private readonly Process _process;
    private readonly List<string> _lines = new();
    private readonly ManualResetEventSlim _listening = new();

    public string Address { get; }

    public static string Binary =>
        Environment.GetEnvironmentVariable("TQBSE_EMULATOR") is { Length: > 0 } named ? named
        : Path.GetFullPath(Path.Combine(AppContext.BaseDirectory, "../../../../../build/emulator/tqbse-emulator"));

    public Emulator(params string[] options)
    {
        for (int attempt = 0; attempt < 32; attempt++)
        {
            string address = $"127.0.0.{64 + Interlocked.Increment(ref _next) % 32}";
            if (!IsFree(address)) continue;
            var info = new ProcessStartInfo(Binary)
            {
                RedirectStandardOutput = true,
                RedirectStandardError = true,
                RedirectStandardInput = true,
                UseShellExecute = false,
            };
            foreach (string a in new[] { "--bind", address, "--port", "6002" }) info.ArgumentList.Add(a);
            foreach (string o in options) info.ArgumentList.Add(o);
            var process = new Process { StartInfo = info };
            process.OutputDataReceived += (_, e) => Take(e.Data);
            process.ErrorDataReceived += (_, e) => Take(e.Data);
            process.Start();
            process.BeginOutputReadLine();
            process.BeginErrorReadLine();
            if (_listening.Wait(TimeSpan.FromSeconds(10)))
            {
                _process = process;
                Address = address;
                return;
            }
            process.Kill();
            process.WaitForExit(5000);
        }
        throw new InvalidOperationException($"{Binary} did not start: {Output}");
    }

    public string Output { get { lock (_lines) return string.Join("\n", _lines); } }

    private void Take(string? line)
    {
        if (line == null) return;
        lock (_lines) _lines.Add(line);
        if (line.Contains(" listening on ")) _listening.Set();
    }

    private static bool IsFree(string address)
    {
        using var probe = new Socket(AddressFamily.InterNetwork, SocketType.Stream, ProtocolType.Tcp);
        try
        {
            probe.Bind(new IPEndPoint(IPAddress.Parse(address), 6002));
            return true;
        }
        catch (SocketException)
        {
            return false;
        }
    }

    public void Dispose()
    {
        if (!_process.HasExited)
        {
            _process.Kill();
            _process.WaitForExit(5000);
        }
        _process.Dispose();
    }
}
