using System;
using System.Runtime.InteropServices;
using Xunit;

namespace Tqbse.Tests;

/// <summary>What the native library under test offers.</summary>
public static class NativeLibraryProbe
{
    private static readonly Lazy<bool> _sessions = new(() =>
        NativeLibrary.TryLoad("tqBsePluginControlDll", typeof(Session).Assembly, null, out IntPtr handle)
        && NativeLibrary.TryGetExport(handle, "tqbse_open", out _));

    /// <summary>Whether the library exports the session functions (tqbse_open and the others).</summary>
    public static bool HasSessions => _sessions.Value;
}

/// <summary>A fact that needs the library's session functions; skipped, saying why, where they are missing.</summary>
public sealed class SessionFactAttribute : FactAttribute
{
    public SessionFactAttribute()
    {
        if (!NativeLibraryProbe.HasSessions) Skip = "the library under test exports no tqbse_open";
    }
}
