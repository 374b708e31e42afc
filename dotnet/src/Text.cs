#nullable enable
using System;
using System.Buffers;

namespace Tqbse;

/// <summary>Texts travel as 8-bit Latin-1: one byte per character, no conversion tables.</summary>
internal static class Latin1
{
    /// <summary>The text in buffer up to its first zero byte, or up to size bytes.</summary>
    internal static unsafe string Decode(byte[] buffer, int size)
    {
        int length = Array.IndexOf(buffer, (byte)0, 0, Math.Min(size, buffer.Length));
        if (length < 0) length = Math.Min(size, buffer.Length);
        return Decode(buffer.AsSpan(0, length));
    }

    internal static unsafe string Decode(ReadOnlySpan<byte> bytes)
    {
        if (bytes.IsEmpty) return string.Empty;
        string text = new string('\0', bytes.Length);
        fixed (char* chars = text)
        {
            for (int i = 0; i < bytes.Length; i++) chars[i] = (char)bytes[i];
        }
        return text;
    }
}

/// <summary>
/// A text argument as the library takes it: Latin-1 bytes and a terminating zero, in the caller's stack
/// buffer when it fits, else in a buffer rented from the shared pool (returned by Dispose). A null text
/// gives no bytes, which pins to the null pointer the library sends as the null text.
/// </summary>
internal ref struct TextArgument
{
    /// <summary>The stack buffer each generated method sets aside per text argument.</summary>
    internal const int StackBytes = 256;

    private byte[]? _rented;

    internal TextArgument(string? text, Span<byte> stack, string what)
    {
        _rented = null;
        if (text == null)
        {
            Bytes = Span<byte>.Empty;
            Length = 0;
            return;
        }
        Span<byte> bytes = text.Length < stack.Length ? stack : (_rented = ArrayPool<byte>.Shared.Rent(text.Length + 1));
        for (int i = 0; i < text.Length; i++)
        {
            char c = text[i];
            if (c == '\0' || c > '\u00ff')
            {
                Dispose();
                throw new ArgumentException(
                    c == '\0' ? "the text holds a zero character; texts end at the first one"
                              : $"the text holds '{c}', which is not Latin-1 (texts are 8-bit)", what);
            }
            bytes[i] = (byte)c;
        }
        bytes[text.Length] = 0;
        Bytes = bytes.Slice(0, text.Length + 1);
        Length = text.Length;
    }

    /// <summary>The bytes with their terminating zero; empty for a null text.</summary>
    internal Span<byte> Bytes { get; private set; }

    /// <summary>The text's length in bytes, without the terminator: the limit the library is given.</summary>
    internal int Length { get; }

    public void Dispose()
    {
        if (_rented != null) ArrayPool<byte>.Shared.Return(_rented);
        _rented = null;
        Bytes = Span<byte>.Empty;
    }
}

/// <summary>How texts and traces are sized: the same bounds the Python package uses.</summary>
internal static class Sizing
{
    internal const int MaxTextBytes = 256 * 1024 * 1024;
    internal const int MaxTracePoints = 16 * 1024 * 1024;
    internal const int MaxAttempts = 7;

    /// <summary>The reported length plus one byte, in case the server does not count the terminator.</summary>
    internal static int FirstTextSize(int reported) => reported >= 0 && reported < MaxTextBytes ? reported + 1 : 256;

    /// <summary>The next size after -13: sixteen times larger, bounded.</summary>
    internal static int NextTextSize(int size) => (int)Math.Min((long)Math.Max(size, 256) * 16, MaxTextBytes);
}
