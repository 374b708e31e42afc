#nullable enable
using System;

namespace Tqbse;

/// <summary>
/// A call that ended with a negative result code. <see cref="Code"/> is the code, <see cref="Name"/> the
/// header's name for it (TQBSE_NO_RESPONSE for -14) and the message the library's text for it. Codes
/// with a meaning of their own raise a subclass (<see cref="NoResponseException"/> and the others).
/// </summary>
public class TqbseException : Exception
{
    /// <summary>A failure with result code <paramref name="code"/> and the text <paramref name="message"/>.</summary>
    public TqbseException(int code, string message) : base(message)
    {
        Code = code;
        Name = ResultCodes.NameOf(code);
    }

    /// <summary>The result code (negative).</summary>
    public int Code { get; }

    /// <summary>The header's name of the code, or null for a code it does not name.</summary>
    public string? Name { get; }

    /// <summary>The exception for <paramref name="code"/> returned by <paramref name="call"/>.</summary>
    internal static TqbseException For(int code, string call, string? sizing = null, string? detail = null)
    {
        string text = detail ?? ErrorText(code);
        string where = sizing == null ? call : $"{call} (sizing {sizing})";
        return ResultCodes.Create(code, $"{where}: {code} {text}".TrimEnd());
    }

    /// <summary>
    /// The library's text for a code it knows (answered locally by GetErrorMsg); for a code the header
    /// does not name, only its number, so that forming an exception never sends anything.
    /// </summary>
    internal static unsafe string ErrorText(int code)
    {
        if (ResultCodes.NameOf(code) == null) return "(a code the library does not know)";
        try
        {
            int length = 0;
            if (NativeMethods.GetErrorMsgLength(code, &length) < 0 || length <= 0 || length > 4096) return "";
            byte* buffer = stackalloc byte[length + 1];
            if (NativeMethods.GetErrorMsg(code, buffer, length + 1) < 0) return "";
            int n = 0;
            while (n < length && buffer[n] != 0) n++;
            return Latin1.Decode(new ReadOnlySpan<byte>(buffer, n));
        }
        catch (Exception e) when (e is DllNotFoundException || e is EntryPointNotFoundException)
        {
            return "";
        }
    }
}
