using System;
using Tqbse;
using Xunit;

namespace UserTests;

/// <summary>One session for all tests of the class, to the server named by TQBSE_ADDRESS (default 127.0.0.1).</summary>
public sealed class ServerFixture : IDisposable
{
    public Session Session { get; } = Session.Open(
        Environment.GetEnvironmentVariable("TQBSE_ADDRESS") ?? "127.0.0.1",
        new SessionOptions { ConnectTimeout = TimeSpan.FromSeconds(5), ReplyTimeout = TimeSpan.FromSeconds(10) });

    public void Dispose() => Session.Dispose();
}

public sealed class ServerTests : IClassFixture<ServerFixture>
{
    private readonly Session _bse;

    public ServerTests(ServerFixture fixture) => _bse = fixture.Session;

    [Fact]
    public void ReceiverTakesTheCentreFrequency()
    {
        _bse.RxCentreFrequencySet(0, 1.8426e9);
        Assert.Equal(1.8426e9, _bse.RxCentreFrequencyGet(0));
    }

    [Fact]
    public void EveryTestCaseHasAName()
    {
        for (int i = 0; i < _bse.TestCaseCountGet(); i++) Assert.NotEmpty(_bse.TestCaseNameGet(i));
    }

    [Fact]
    public void AnUnknownPathIsRefused()
    {
        var e = Assert.Throws<UnknownObjectException>(() => _bse.RxCentreFrequencyGet(99));
        Assert.Equal("TQBSE_INTERNAL_OBJECT_ERROR", e.Name);
    }

    [Fact]
    public void ScenarioRunsToItsEnd()
    {
        _bse.ScenarioExecute(_bse.ScenarioNameGet(0));
        string? message = _bse.WaitEvent(TimeSpan.FromSeconds(60));
        Assert.NotNull(message);
        Assert.StartsWith("ScenarioFinished", message);
    }
}
