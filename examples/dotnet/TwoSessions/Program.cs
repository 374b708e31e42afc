// Two servers driven side by side, one session each: both run a scenario, and the program waits for
// each server's ScenarioFinished message.
//   dotnet run -- [ADDRESS1] [ADDRESS2] [SCENARIO]     (defaults: 127.0.0.2 127.0.0.3 Idle_Camping)
using Tqbse;

string first = args.Length > 0 ? args[0] : "127.0.0.2";
string second = args.Length > 1 ? args[1] : "127.0.0.3";
string scenario = args.Length > 2 ? args[2] : "Idle_Camping";
var options = new SessionOptions { ConnectTimeout = TimeSpan.FromSeconds(5), ReplyTimeout = TimeSpan.FromSeconds(30) };

try
{
    using var a = Session.Open(first, options);
    using var b = Session.Open(second, options);
    var runs = new[] { (first, a), (second, b) }.Select(pair => Task.Run(() =>
    {
        var (address, session) = pair;
        Console.WriteLine($"{address}: server {session.GetServerVersion()}, {session.ScenarioCountGet()} scenarios");
        session.ScenarioExecute(scenario);
        // Other messages may come first; ScenarioFinished names the scenario that ended.
        var deadline = DateTime.UtcNow + TimeSpan.FromSeconds(60);
        while (DateTime.UtcNow < deadline)
        {
            string? message = session.WaitEvent(deadline - DateTime.UtcNow);
            if (message == null) break;
            if (message.StartsWith("ScenarioFinished", StringComparison.Ordinal))
            {
                Console.WriteLine($"{address}: {message}");
                return true;
            }
        }
        Console.WriteLine($"{address}: no ScenarioFinished within 60 s");
        return false;
    })).ToArray();
    return (await Task.WhenAll(runs)).All(done => done) ? 0 : 1;
}
catch (TqbseException e)
{
    Console.Error.WriteLine($"failed: {e.Message} ({e.Name ?? e.Code.ToString()})");
    return 1;
}
