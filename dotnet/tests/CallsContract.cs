using System;
using System.Linq;
using Xunit;

namespace Tqbse.Tests;

/// <summary>
/// The typed calls of every kind (int, flag, float, double, text, trace, version, upload/download, two
/// outputs) and their failures, run once on a <see cref="Session"/> and once on the flat connection.
/// </summary>
public abstract class CallsContract
{
    /// <summary>Connects to the emulator; the returned object closes the connection when disposed.</summary>
    protected abstract (ITqbseCalls Calls, IDisposable Closer) Connect(string address);

    private void With(Action<ITqbseCalls> test, params string[] options)
    {
        using var emulator = new Emulator(options);
        var (calls, closer) = Connect(emulator.Address);
        using (closer) test(calls);
    }

    protected void NumbersAndFlagsRoundTrip() => With(c =>
    {
        c.RxCentreFrequencySet(1, 2.1400625e9);
        Assert.Equal(2.1400625e9, c.RxCentreFrequencyGet(1));
        c.RxInputLevelSet(0, -37.25f);
        Assert.Equal(-37.25f, c.RxInputLevelGet(0));
        c.LoggingStateSet(true);
        Assert.True(c.LoggingStateGet());
        c.LoggingStateSet(false);
        Assert.False(c.LoggingStateGet());
        Assert.Equal(5, c.TestCaseCountGet());
        Assert.Equal(new Version(6, 0, 0, 0), c.GetServerVersion());
        c.ProtocolMeasurementEnabledSet(0, true);
        int handle = c.ProtocolResultsGetHandle();
        var (first, second) = c.ProtocolResultsGetResultItem(handle, 0);
        Assert.False(double.IsNaN(first) || double.IsNaN(second));
    });

    protected void TextsAreSizedAndLatin1() => With(c =>
    {
        Assert.Equal(new[] { "Attach", "Detach", "Handover_Intra", "Handover_Inter", "Paging" },
                     Enumerable.Range(0, c.TestCaseCountGet()).Select(c.TestCaseNameGet));
        Assert.Equal("Idle_Camping", c.ScenarioNameGet(0));
        // Short (stack), long (pooled) and 8-bit texts travel byte for byte both ways.
        string content = "Grüße, £5 " + new string('x', 5000) + " ÿ";
        c.ScenarioUpload("Straße", content);
        Assert.Equal(content.Length, c.ScenarioDownloadSizeGet("Straße"));
        Assert.Equal(content, c.ScenarioDownload("Straße"));
        c.DebugFiltersStateSet("PHY", true);
        c.DebugFiltersAcceptChanges();
        Assert.True(c.DebugFiltersStateGet("PHY"));
    });

    protected void TracesComeWhole() => With(c =>
    {
        c.ProtocolMeasurementEnabledSet(0, true);
        int handle = c.ProtocolResultsGetHandle();
        int length = c.ProtocolResultsGetTraceLength(handle, 0);
        var (x, y) = c.ProtocolResultsGetTrace(handle, 0);
        Assert.Equal(5000, length);
        Assert.Equal(length, x.Length);
        Assert.Equal(length, y.Length);
        Assert.True(x.Zip(x.Skip(1), (a, b) => a < b).All(up => up), "x values ascend");
        c.ResultsDeleteHandle(handle);
        c.LteMeasurementEnabledSet(0, 0, true);
        handle = c.LteResultsGetHandle(0);
        Assert.Equal(5000, c.LteResultsGetTrace(handle, 0).XValues.Length);
    }, "--trace-length", "5000");

    protected void FailuresRaiseTypedExceptions() => With(c =>
    {
        var e = Assert.Throws<UnknownObjectException>(() => c.TestCaseNameGet(99));
        Assert.Equal(-18, e.Code);
        Assert.Equal("TQBSE_INTERNAL_OBJECT_ERROR", e.Name);
        Assert.Contains("TestCase_NameLength_Get", e.Message);
        Assert.Throws<UnknownObjectException>(() => c.RxCentreFrequencyGet(7));
        // A text the wire cannot carry is refused before anything is sent, and the connection goes on.
        Assert.Throws<ArgumentException>(() => c.ScenarioExecute("Ω"));
        Assert.Throws<ArgumentException>(() => c.ScenarioExecute("a\0b"));
        Assert.Equal(5, c.TestCaseCountGet());
    });
}

[Collection("flat connection")]
public sealed class FlatCallsTests : CallsContract
{
    protected override (ITqbseCalls, IDisposable) Connect(string address)
    {
        var session = DefaultSession.Connect(address);
        return (session, session);
    }

    [Fact] public void NumbersAndFlags() => NumbersAndFlagsRoundTrip();
    [Fact] public void Texts() => TextsAreSizedAndLatin1();
    [Fact] public void Traces() => TracesComeWhole();
    [Fact] public void Failures() => FailuresRaiseTypedExceptions();

    [Fact]
    public void NoConnectionIsNoResponse()
    {
        Flat.Shutdown();
        var e = Assert.Throws<NoResponseException>(() => Flat.TestCaseCountGet());
        Assert.Equal(-14, e.Code);
        Assert.Throws<BadAddressException>(() => Flat.Initialise(127, 0, 0, 256));
        Assert.False(string.IsNullOrEmpty(Flat.GetErrorMsg(-14)));
        Assert.Equal(Flat.GetErrorMsg(-14).Length + 1, Flat.GetErrorMsgLength(-14));
    }
}

public sealed class SessionCallsTests : CallsContract
{
    protected override (ITqbseCalls, IDisposable) Connect(string address)
    {
        var session = Session.Open(address, new SessionOptions { ConnectTimeout = TimeSpan.FromSeconds(5) });
        return (session, session);
    }

    [SessionFact] public void NumbersAndFlags() => NumbersAndFlagsRoundTrip();
    [SessionFact] public void Texts() => TextsAreSizedAndLatin1();
    [SessionFact] public void Traces() => TracesComeWhole();
    [SessionFact] public void Failures() => FailuresRaiseTypedExceptions();
}

[CollectionDefinition("flat connection", DisableParallelization = true)]
public sealed class FlatConnectionCollection { }
