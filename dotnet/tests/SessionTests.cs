using System;
using System.Diagnostics;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using Xunit;

namespace Tqbse.Tests;

/// <summary>What sessions add to the calls: independence, events, closing, deadlines.</summary>
public sealed class SessionTests
{
    private static readonly TimeSpan Bound = TimeSpan.FromSeconds(10);

    private static Session Open(Emulator emulator, SessionOptions? options = null) =>
        Session.Open(emulator.Address, options ?? new SessionOptions { ConnectTimeout = TimeSpan.FromSeconds(5) });

    [SessionFact]
    public void TwoSessionsRunSideBySide()
    {
        using var a = new Emulator();
        using var b = new Emulator();
        using var first = Open(a);
        using var second = Open(b);
        // Each thread writes and reads its own server many times; neither sees the other's value.
        var tasks = new[] { (first, 1.0e9), (second, 2.0e9) }.Select(pair => Task.Run(() =>
        {
            for (int i = 0; i < 200; i++)
            {
                pair.Item1.RxCentreFrequencySet(0, pair.Item2 + i);
                Assert.Equal(pair.Item2 + i, pair.Item1.RxCentreFrequencyGet(0));
            }
        })).ToArray();
        Assert.True(Task.WaitAll(tasks, Bound));
        Assert.Equal(1.0e9 + 199, first.RxCentreFrequencyGet(0));
        Assert.Equal(2.0e9 + 199, second.RxCentreFrequencyGet(0));
    }

    [SessionFact]
    public void ScenarioEndArrivesByWait()
    {
        using var emulator = new Emulator("--callback-on-scenario-end", "--scenario-ms", "100");
        using var session = Open(emulator);
        Assert.Null(session.WaitEvent(TimeSpan.Zero));
        session.ScenarioExecute("Idle_Camping");
        string? message = session.WaitEvent(Bound);
        Assert.NotNull(message);
        Assert.Contains("ScenarioFinished", message);
        Assert.Contains("Idle_Camping", message);
        Assert.Equal(0UL, session.EventsDropped);
    }

    [SessionFact]
    public void ScenarioEndArrivesByHandler()
    {
        using var emulator = new Emulator("--callback-on-scenario-end", "--scenario-ms", "100");
        using var session = Open(emulator);
        var received = new TaskCompletionSource<string>(TaskCreationOptions.RunContinuationsAsynchronously);
        session.EventReceived += (sender, e) =>
        {
            Assert.Same(session, sender);
            received.TrySetResult(e.Message);
        };
        // The delegate handed to the library must survive collections while it is registered.
        GC.Collect();
        GC.WaitForPendingFinalizers();
        session.ScenarioExecute("Call_Setup");
        Assert.True(received.Task.Wait(Bound), "no event reached the handler");
        Assert.Contains("ScenarioFinished", received.Task.Result);
        Assert.Contains("Call_Setup", received.Task.Result);
    }

    [SessionFact]
    public void LongEventsArriveWholeByWaitAndByHandler()
    {
        string name = "Tick" + new string('E', 3000);
        using var emulator = new Emulator("--event-every", "30", name);
        using var session = Open(emulator);
        // Longer than WaitEvent's first buffer: the event stays queued until a buffer holds it.
        string? message = session.WaitEvent(Bound);
        Assert.NotNull(message);
        Assert.StartsWith(name + "=", message);
        Assert.Contains("n=", message);

        // Once a handler is attached, the events go to it, long ones whole.
        var handled = new TaskCompletionSource<string>(TaskCreationOptions.RunContinuationsAsynchronously);
        session.EventReceived += (_, e) => { e.Answer = 7; handled.TrySetResult(e.Message); };
        Assert.True(handled.Task.Wait(Bound), "no event reached the handler");
        Assert.StartsWith(name + "=", handled.Task.Result);
    }

    [SessionFact]
    public void DisposeWakesAPendingWait()
    {
        using var emulator = new Emulator();
        var session = Open(emulator);
        var waiting = Task.Run(() => session.WaitEvent(Timeout.InfiniteTimeSpan));
        Assert.False(waiting.Wait(200), "a wait with nothing to receive returned");
        session.Dispose();
        Assert.True(waiting.Wait(Bound), "the wait outlived the session");
        Assert.Null(waiting.Result);
        Assert.True(session.IsClosed);
        Assert.Throws<ObjectDisposedException>(() => session.TestCaseCountGet());
        session.Dispose(); // a second Dispose does nothing
    }

    [SessionFact]
    public void ReplyDeadlineEndsASlowCall()
    {
        using var emulator = new Emulator("--fault-call", "TestCase_Count_Get", "--delay-ms", "5000");
        using var session = Open(emulator, new SessionOptions { ReplyTimeout = TimeSpan.FromMilliseconds(300) });
        var clock = Stopwatch.StartNew();
        var e = Assert.Throws<NoResponseException>(() => session.TestCaseCountGet());
        Assert.Equal(-14, e.Code);
        Assert.True(clock.Elapsed < TimeSpan.FromSeconds(4), $"gave up only after {clock.Elapsed}");
        // The connection is dropped: a late reply is never taken for a later call's.
        Assert.Throws<NoResponseException>(() => session.RxCentreFrequencyGet(0));
    }

    [SessionFact]
    public void OpeningWhereNothingListensFails()
    {
        var e = Assert.ThrowsAny<TqbseException>(() =>
            Session.Open("127.0.0.63", new SessionOptions { ConnectTimeout = TimeSpan.FromSeconds(2) }));
        Assert.True(e.Code < 0);
        Assert.Throws<ArgumentOutOfRangeException>(() =>
            Session.Open("127.0.0.63", new SessionOptions { ReplyTimeout = TimeSpan.FromMilliseconds(-5) }));
    }
}
