#nullable enable
using System;
using System.Buffers;
using System.Threading;

namespace Tqbse;

/// <summary>
/// A connection of its own to one server (port 6002) with its own event listener: any number of sessions
/// run side by side, each from any thread. One typed method per remote export (generated); Dispose closes
/// the connection and ends a call or <see cref="WaitEvent"/> pending on another thread. Dispose is the
/// session's last use: a call another thread starts while Dispose runs is the caller's race (as in C);
/// calls after it raise ObjectDisposedException.
/// </summary>
public sealed unsafe partial class Session : IDisposable
{
    private IntPtr _handle;
    // Kept in a field for the session's lifetime: native code holds a pointer to it while it is registered.
    private NativeMethods.EventHandler? _nativeHandler;
    private EventHandler<TqbseEventArgs>? _eventReceived;
    private readonly object _eventLock = new object();

    private Session(IntPtr handle) => _handle = handle;

    /// <summary>Connects to <paramref name="address"/> (dotted IPv4 or a host name), port 6002.</summary>
    /// <exception cref="TqbseException">the connection failed (-14 when the server cannot be reached).</exception>
    public static Session Open(string address, SessionOptions? options = null)
    {
        if (address == null) throw new ArgumentNullException(nameof(address));
        var native = new NativeMethods.Options
        {
            ReplyTimeoutMs = SessionOptions.Milliseconds(options?.ReplyTimeout, nameof(options.ReplyTimeout)),
            ConnectTimeoutMs = SessionOptions.Milliseconds(options?.ConnectTimeout, nameof(options.ConnectTimeout)),
        };
        Span<byte> stack = stackalloc byte[TextArgument.StackBytes];
        using var text = new TextArgument(address, stack, nameof(address));
        IntPtr handle = IntPtr.Zero;
        int code;
        fixed (byte* bytes = text.Bytes)
            code = NativeMethods.SessionOpen(bytes, &native, &handle);
        if (code < 0 || handle == IntPtr.Zero) throw TqbseException.For(code < 0 ? code : -1, "tqbse_open");
        return new Session(handle);
    }

    /// <summary>The native session; ObjectDisposedException once closed.</summary>
    internal IntPtr Handle
    {
        get
        {
            IntPtr handle = Volatile.Read(ref _handle);
            if (handle == IntPtr.Zero) throw new ObjectDisposedException(nameof(Session));
            return handle;
        }
    }

    /// <summary>Whether <see cref="Dispose"/> has closed the session.</summary>
    public bool IsClosed => Volatile.Read(ref _handle) == IntPtr.Zero;

    /// <summary>
    /// Waits up to <paramref name="timeout"/> for the next message to the session's listener
    /// (<see cref="Timeout.InfiniteTimeSpan"/>: no limit; TimeSpan.Zero: only what is there). Returns it, or
    /// null on timeout or when the session is closed meanwhile.
    /// </summary>
    public string? WaitEvent(TimeSpan timeout)
    {
        int ms = timeout == Timeout.InfiniteTimeSpan ? -1
               : timeout <= TimeSpan.Zero ? 0
               : (int)Math.Min(Math.Ceiling(timeout.TotalMilliseconds), int.MaxValue);
        IntPtr handle = Handle;
        int size = 1024;
        for (int attempt = 0; attempt < Sizing.MaxAttempts; attempt++)
        {
            byte[] rented = ArrayPool<byte>.Shared.Rent(size);
            try
            {
                int length = 0;
                int code;
                fixed (byte* buffer = rented)
                    code = NativeMethods.SessionWaitEvent(handle, ms, buffer, rented.Length, &length);
                if (code == -14) return null;
                if (code == -13)
                {
                    // The event stays queued; length is what it needs.
                    size = Math.Max(length + 1, rented.Length * 2);
                    continue;
                }
                if (code < 0) throw TqbseException.For(code, "tqbse_wait_event");
                return Latin1.Decode(rented.AsSpan(0, Math.Min(Math.Max(length, 0), rented.Length)));
            }
            finally
            {
                ArrayPool<byte>.Shared.Return(rented);
            }
        }
        throw TqbseException.For(-13, "tqbse_wait_event");
    }

    /// <summary>How many events were dropped because nobody took them in time.</summary>
    public ulong EventsDropped
    {
        get
        {
            ulong count = 0;
            int code = NativeMethods.SessionEventsDropped(Handle, &count);
            if (code < 0) throw TqbseException.For(code, "tqbse_events_dropped");
            return count;
        }
    }

    /// <summary>
    /// Raised on the session's listener thread for each message to it; a handler may set
    /// <see cref="TqbseEventArgs.Answer"/>. An exception a handler throws answers -1 and goes no further.
    /// While any handler is attached the session's events go to it rather than to the queue
    /// <see cref="WaitEvent"/> reads. Handlers of all sessions run one at a time: keep them short.
    /// </summary>
    public event EventHandler<TqbseEventArgs>? EventReceived
    {
        add
        {
            lock (_eventLock)
            {
                bool first = _eventReceived == null;
                _eventReceived += value;
                if (first && _eventReceived != null) Register(true);
            }
        }
        remove
        {
            lock (_eventLock)
            {
                _eventReceived -= value;
                if (_eventReceived == null && _nativeHandler != null && !IsClosed) Register(false);
            }
        }
    }

    private void Register(bool on)
    {
        _nativeHandler ??= OnNativeEvent;
        int code = NativeMethods.SessionSetEventHandler(Handle, null, on ? _nativeHandler : null, IntPtr.Zero);
        if (code < 0) throw TqbseException.For(code, "tqbse_set_event_handler");
    }

    private int OnNativeEvent(IntPtr session, byte* message, int length, IntPtr user)
    {
        try
        {
            var args = new TqbseEventArgs(Latin1.Decode(new ReadOnlySpan<byte>(message, Math.Max(length, 0))));
            Volatile.Read(ref _eventReceived)?.Invoke(this, args);
            return args.Answer;
        }
        catch
        {
            return -1; // no exception crosses into the library's listener thread
        }
    }

    /// <summary>Closes the connection and the listener; a pending <see cref="WaitEvent"/> returns null.</summary>
    public void Dispose()
    {
        IntPtr handle = Interlocked.Exchange(ref _handle, IntPtr.Zero);
        if (handle != IntPtr.Zero) NativeMethods.SessionClose(handle);
        GC.SuppressFinalize(this);
    }

    /// <summary>Closes a session nobody disposed.</summary>
    ~Session()
    {
        IntPtr handle = Interlocked.Exchange(ref _handle, IntPtr.Zero);
        if (handle != IntPtr.Zero) NativeMethods.SessionClose(handle);
    }
}
