#nullable enable
using System;
using System.Runtime.InteropServices;

namespace Tqbse;

/// <summary>The library's exports that are not rows: opening, closing and the events of a session.</summary>
internal static unsafe partial class NativeMethods
{
    /// <summary>The library's file name without prefix or suffix: tqBsePluginControlDll.dll on Windows,
    /// libtqBsePluginControlDll.so on Linux.</summary>
    internal const string Library = "tqBsePluginControlDll";

    [StructLayout(LayoutKind.Sequential)]
    internal struct Options
    {
        internal int ReplyTimeoutMs;
        internal int ConnectTimeoutMs;
    }

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    internal delegate int EventHandler(IntPtr session, byte* message, int length, IntPtr user);

    [DllImport(Library, EntryPoint = "tqbse_open", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
    internal static extern int SessionOpen(byte* address, Options* options, IntPtr* session);

    [DllImport(Library, EntryPoint = "tqbse_close", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
    internal static extern int SessionClose(IntPtr session);

    [DllImport(Library, EntryPoint = "tqbse_wait_event", CallingConvention = CallingConvention.Cdecl,
               ExactSpelling = true)]
    internal static extern int SessionWaitEvent(IntPtr session, int timeoutMs, byte* buffer, int bufferSize,
                                                int* length);

    [DllImport(Library, EntryPoint = "tqbse_set_event_handler", CallingConvention = CallingConvention.Cdecl,
               ExactSpelling = true)]
    internal static extern int SessionSetEventHandler(IntPtr session, byte* name, EventHandler? handler,
                                                      IntPtr user);

    [DllImport(Library, EntryPoint = "tqbse_events_dropped", CallingConvention = CallingConvention.Cdecl,
               ExactSpelling = true)]
    internal static extern int SessionEventsDropped(IntPtr session, ulong* count);
}
