#nullable enable
using System;

namespace Tqbse;

/// <summary>How a <see cref="Session"/> waits: for each reply and for the connection.</summary>
public sealed class SessionOptions
{
    /// <summary>How long a call waits for its reply before it fails with -14 and the connection is dropped;
    /// null (the default) waits as long as the reply takes.</summary>
    public TimeSpan? ReplyTimeout { get; set; }

    /// <summary>How long opening waits for the connection; null takes the library's default (10 s).</summary>
    public TimeSpan? ConnectTimeout { get; set; }

    internal static int Milliseconds(TimeSpan? span, string what)
    {
        if (span == null) return 0;
        double ms = Math.Ceiling(span.Value.TotalMilliseconds);
        if (ms <= 0 || ms > int.MaxValue)
            throw new ArgumentOutOfRangeException(what, span, "must be positive and at most int.MaxValue ms");
        return (int)ms;
    }
}

/// <summary>A message the server sent to the session's listener (ScenarioFinished=(s=NAME) and others).</summary>
public sealed class TqbseEventArgs : EventArgs
{
    internal TqbseEventArgs(string message) => Message = message;

    /// <summary>The message as received.</summary>
    public string Message { get; }

    /// <summary>The code answered to the server; 0 unless a handler sets it.</summary>
    public int Answer { get; set; }
}
