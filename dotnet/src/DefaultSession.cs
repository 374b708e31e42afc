#nullable enable
using System;
using System.Net;
using System.Net.Sockets;

namespace Tqbse;

/// <summary>
/// The library's one flat connection as an object: Connect calls Initialise, Dispose calls Shutdown, and
/// the typed methods are <see cref="Flat"/>'s. For hosts written against the flat exports; new code uses
/// <see cref="Session"/>.
/// </summary>
public sealed partial class DefaultSession : IDisposable
{
    private bool _disposed;

    private DefaultSession() { }

    /// <summary>Initialise with the four octets of <paramref name="address"/> (dotted IPv4).</summary>
    public static DefaultSession Connect(string address)
    {
        if (!IPAddress.TryParse(address ?? throw new ArgumentNullException(nameof(address)), out IPAddress? ip)
            || ip.AddressFamily != AddressFamily.InterNetwork)
            throw new ArgumentException("not a dotted IPv4 address", nameof(address));
        byte[] octets = ip.GetAddressBytes();
        Flat.Initialise(octets[0], octets[1], octets[2], octets[3]);
        return new DefaultSession();
    }

    /// <summary>Shutdown (safe when the connection is already gone).</summary>
    public void Dispose()
    {
        if (_disposed) return;
        _disposed = true;
        Flat.Shutdown();
    }
}
