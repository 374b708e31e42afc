using System;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Text.Json;
using System.Xml.Linq;
using Xunit;

namespace Tqbse.Tests;

/// <summary>The generated surface against the rows it was generated from: nothing lost, everything documented.</summary>
public sealed class SurfaceTests
{
    private static readonly string Repo = Path.GetFullPath(Path.Combine(AppContext.BaseDirectory, "../../../../.."));

    private static JsonElement[] Rows()
    {
        string tool = Environment.GetEnvironmentVariable("TQBSE_TOOL") is { Length: > 0 } named
            ? named : Path.Combine(Repo, "build/tools/tqbse");
        var info = new ProcessStartInfo(tool, "list --json") { RedirectStandardOutput = true };
        using var process = Process.Start(info)!;
        string json = process.StandardOutput.ReadToEnd();
        Assert.True(process.WaitForExit(30000));
        return JsonDocument.Parse(json).RootElement.EnumerateArray().ToArray();
    }

    [Fact]
    public void EveryRowHasItsFlatMethodAndEveryDocumentedMemberItsSummary()
    {
        var rows = Rows();
        Assert.Equal(75, rows.Length);
        var flat = typeof(Flat).GetMethods(BindingFlags.Public | BindingFlags.Static).Select(m => m.Name).ToHashSet();
        var missing = rows.Select(r => r.GetProperty("call").GetString()!)
                          .Where(name => !flat.Contains(name.Replace("_", "")
                              , StringComparer.OrdinalIgnoreCase)).ToList();
        Assert.Empty(missing);
        // Every session method is a call of the interface, and the local rows have none.
        var session = typeof(ITqbseCalls).GetMethods().Select(m => m.Name).ToHashSet();
        Assert.DoesNotContain("Initialise", session);
        Assert.DoesNotContain("Shutdown", session);
        Assert.Contains("RxCentreFrequencyGet", session);

        var docs = XDocument.Load(Path.ChangeExtension(typeof(Flat).Assembly.Location, ".xml"));
        var documented = docs.Descendants("member")
            .Where(m => !string.IsNullOrWhiteSpace((string?)m.Element("summary")))
            .Select(m => (string)m.Attribute("name")!).ToHashSet();
        var undocumented = typeof(Flat).GetMethods(BindingFlags.Public | BindingFlags.Static)
            .Where(m => !documented.Any(d => d.StartsWith("M:Tqbse.Flat." + m.Name + "(") || d == "M:Tqbse.Flat." + m.Name))
            .Select(m => m.Name).ToList();
        Assert.Empty(undocumented);
    }
}
