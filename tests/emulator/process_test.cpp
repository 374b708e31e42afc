// The emulator as a program: fault options seen through the library, the
// scenario-end callback and the example configuration, several instances
// sending events, each from its own address. A wrong reply name
// and missing outputs are raised through the Python package
// (python/tests/test_calls.py).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "listener/listener.h"
#include "platform/platform.h"
#include "protocol/codec.h"
#include "protocol/ports.h"
#include "support/process.h"
#include "support/sockets.h"
#include "tqBsePluginControlDll.h"

namespace tqbse::test {
namespace {

// The emulator runs on 127.0.0.10 (EmulatorProcess's address).
int32_t initialise() { return tqBsePluginControlDll_Initialise(127, 0, 0, 10); }

// Each fault option on RX_CentreFrequency_Get alone, seen through the
// library: the code it gives, and the output left alone on a failure.
TEST(EmulatorProcess, FaultOptionsGiveTheMatchingCode)
{
    const struct {
        std::vector<std::string> options;
        int32_t code;
    } cases[] = {
        {{"--close-after", "0"}, -14},
        {{"--close-mid-reply"}, -14},
        {{"--bad-hex"}, -6},
        {{"--piece-size", "3", "--piece-pause-ms", "5"}, 0},
        {{"--delay-ms", "150"}, 0},
        {{"--token-pieces", "10"}, 0},
        {{"--send-twice"}, 0},
        {{"--endless-text"}, -14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options[0]);
        EmulatorProcess emulator;
        std::vector<std::string> args{"--fault-call", "RX_CentreFrequency_Get"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        std::string error;
        ASSERT_TRUE(emulator.start(args, &error)) << error;
        ASSERT_EQ(initialise(), 0);
        ASSERT_EQ(tqBsePluginControlDll_RX_CentreFrequency_Set(0, 1.5e9), 0); // other calls are not affected
        double f = -1;
        const int32_t code = tqBsePluginControlDll_RX_CentreFrequency_Get(0, &f);
        EXPECT_EQ(code, c.code) << emulator.log();
        EXPECT_EQ(f, code == 0 ? 1.5e9 : -1);
        tqBsePluginControlDll_Shutdown();
    }
}

// One connection to the emulator, without the library: requests go out in
// the pieces given, `pauseMs` apart; the reply is read until it ends in ")"
// and nothing more comes for 300 ms.
std::string rawExchange(const std::vector<std::string>& pieces, int pauseMs)
{
    platform::socketLibraryStartup();
    const platform::SocketHandle s = platform::openTcpSocket();
    std::string reply;
    if (s != platform::kInvalidSocket && platform::setTimeouts(s, kSocketTimeoutMs) == 0
        && platform::connectWithTimeout(s, endpoint("127.0.0.10", serverPort()), kSocketTimeoutMs) == 0) {
        for (const std::string& piece : pieces) {
            platform::sendAll(s, piece.data(), piece.size());
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        }
        char chunk[4096];
        for (int n = 0; n < 1000 && platform::waitReadable(s, reply.ends_with(")") ? 300 : 3000); ++n) {
            const int64_t got = platform::receiveSome(s, chunk, sizeof chunk);
            if (got <= 0)
                break;
            reply.append(chunk, std::size_t(got));
        }
    }
    if (s != platform::kInvalidSocket)
        platform::closeSocket(s);
    platform::socketLibraryCleanup();
    return reply;
}

// How the emulator finds the end of a request on its socket: a request in
// pieces is answered once, whole; one a token short (a text left out for its
// limit) is taken after the quiet wait and refused (-9), not waited for.
TEST(EmulatorProcess, RequestsInPiecesOrATokenShortAreAnsweredOnce)
{
    EmulatorProcess emulator;
    std::string error;
    ASSERT_TRUE(emulator.start({}, &error)) << error;
    const std::string set = "tqBsePluginControlDll_RX_CentreFrequency_Set=";
    EXPECT_EQ(rawExchange({set + "(n=000", "00000)(d=0000000065cd", "cd41)"}, 60), set + "(n=00000000)");
    const std::string upload = "tqBsePluginControlDll_Scenario_Upload=";
    EXPECT_EQ(rawExchange({upload + "(s=name)"}, 0), upload + "(n=f7ffffff)(s=1 input tokens where the call takes 2)");
}

// Every refusal is one line on the emulator's standard error, and its reason
// rides after the result code, which the library returns unchanged.
TEST(EmulatorProcess, RefusalsAreLoggedOnStandardErrorAndTheLibraryKeepsTheCode)
{
    EmulatorProcess emulator;
    std::string error;
    ASSERT_TRUE(emulator.start({}, &error, true)) << error;
    ASSERT_EQ(initialise(), 0);
    int32_t length = -1;
    EXPECT_EQ(tqBsePluginControlDll_Protocol_Results_GetTraceLength(7, 0, &length), -18);
    EXPECT_EQ(length, -1);
    EXPECT_EQ(tqBsePluginControlDll_Scenario_Execute("x", 1), -18);
    int32_t count = 0;
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), 0); // the connection is still in step
    EXPECT_EQ(count, 5);
    tqBsePluginControlDll_Shutdown();
    const std::string errors = emulator.errorLog();
    EXPECT_NE(errors.find("tqbse-emulator: Protocol_Results_GetTraceLength -> -18: unknown results handle 7\n"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("tqbse-emulator: Scenario_Execute -> -18: scenario \"x\" not uploaded\n"), std::string::npos)
        << errors;
    EXPECT_EQ(emulator.log().find("-> -18"), std::string::npos); // not on standard output
}

// The example configuration is served, and a scenario from it calls the
// client back when it ends.
TEST(EmulatorProcess, ExampleConfigIsServedAndScenarioEndCallsTheClientBack)
{
    EmulatorProcess emulator;
    std::string error;
    ASSERT_TRUE(emulator.start({"--config", TQBSE_EXAMPLE_CONFIG, "--callback-on-scenario-end", "--scenario-ms", "100"},
                               &error))
        << error;
    ASSERT_EQ(initialise(), 0); // starts the library's listener on the emulator's --callback-port
    int32_t count = 0, length = 0, handle = 0;
    char name[64] = {};
    ASSERT_EQ(tqBsePluginControlDll_TestCase_Count_Get(&count), 0);
    EXPECT_EQ(count, 3);
    ASSERT_EQ(tqBsePluginControlDll_TestCase_Name_Get(2, name, 64), 0);
    EXPECT_STREQ(name, "Cell_Reselection");
    ASSERT_EQ(tqBsePluginControlDll_Protocol_MeasurementEnabled_Set(2, 1), 0); // three paths
    ASSERT_EQ(tqBsePluginControlDll_Protocol_Results_GetHandle(&handle), 0);
    ASSERT_EQ(tqBsePluginControlDll_Protocol_Results_GetTraceLength(handle, 1, &length), 0);
    EXPECT_EQ(length, 2048);
    ASSERT_EQ(tqBsePluginControlDll_Scenario_Execute("Power_Sweep", 100), 0);
    // The library's default handler answers every callback message with -8.
    const std::string answered = "answered: ScenarioFinished=(n=f8ffffff)";
    for (int i = 0; i < 250 && emulator.log().find(answered) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(emulator.log().find(answered), std::string::npos) << emulator.log();
    tqBsePluginControlDll_Shutdown();
}

// Two emulators on one port, on 127.0.0.2 and 127.0.0.3, with --event-every:
// none sends before a client has connected; then each sends Tick=(n=1),
// (n=2), ... to the client's callback port, every event from the address it
// listens on, and prints the answer.
TEST(EmulatorProcess, InstancesOnTheirOwnAddressesSendNumberedEventsFromThem)
{
    struct Heard {
        std::mutex mutex;
        std::map<std::string, std::vector<std::string>> byAddress;
        std::size_t fewest(const std::vector<std::string>& addresses)
        {
            const std::lock_guard lock(mutex);
            std::size_t n = SIZE_MAX;
            for (const std::string& a : addresses)
                n = std::min(n, byAddress[a].size());
            return n;
        }
    };
    const auto heard = std::make_shared<Heard>();
    ASSERT_EQ(listener::startListener(), 0);
    listener::setMessageHandler([heard](std::string_view m, uint32_t from) -> std::string {
        if (m == listener::kTerminationMessage)
            return {};
        const std::lock_guard lock(heard->mutex);
        heard->byAddress[platform::dottedText(from)].emplace_back(m);
        return codec::resultOnlyReply(codec::splitMessage(m).name, 0);
    });
    const uint16_t port = freePort();
    EmulatorProcess second("127.0.0.2", port);
    EmulatorProcess third("127.0.0.3", port);
    std::string error;
    ASSERT_TRUE(second.start({"--event-every", "40", "Tick"}, &error)) << error;
    ASSERT_TRUE(third.start({"--event-every", "40", "Tick"}, &error)) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    {
        const std::lock_guard lock(heard->mutex);
        EXPECT_TRUE(heard->byAddress.empty()) << "an event before any client connected";
    }
    platform::socketLibraryStartup();
    std::vector<platform::SocketHandle> clients;
    for (const char* address : {"127.0.0.2", "127.0.0.3"}) {
        const platform::SocketHandle s = platform::openTcpSocket();
        ASSERT_NE(s, platform::kInvalidSocket);
        clients.push_back(s);
        ASSERT_EQ(platform::connectWithTimeout(s, endpoint(address, port), kSocketTimeoutMs), 0) << address;
    }
    const std::vector<std::string> addresses = {"127.0.0.2", "127.0.0.3"};
    for (int i = 0; i < 250 && heard->fewest(addresses) < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    listener::setMessageHandler(listener::defaultMessageHandler);
    listener::stopListener();
    for (const platform::SocketHandle s : clients)
        platform::closeSocket(s);
    platform::socketLibraryCleanup();
    const std::lock_guard lock(heard->mutex);
    EXPECT_EQ(heard->byAddress.size(), 2u) << "events from another address than the emulators'";
    for (const std::string& address : addresses) {
        SCOPED_TRACE(address);
        const std::vector<std::string>& events = heard->byAddress[address];
        ASSERT_GE(events.size(), 3u);
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_EQ(events[k], "Tick=" + codec::encodeInt(int32_t(k + 1)));
    }
    const std::string answered = "event Tick=(n=01000000) to 127.0.0.1:" + std::to_string(listenerPort())
        + " answered: Tick=(n=00000000)";
    EXPECT_NE(second.log().find(answered), std::string::npos) << second.log();
    EXPECT_NE(third.log().find(answered), std::string::npos) << third.log();
}

// A connection of a test's own to the emulator on 127.0.0.10, with timeouts.
platform::SocketHandle connectRaw()
{
    const platform::SocketHandle s = platform::openTcpSocket();
    if (s != platform::kInvalidSocket
        && (platform::setTimeouts(s, kSocketTimeoutMs) != 0
            || platform::connectWithTimeout(s, endpoint("127.0.0.10", serverPort()), kSocketTimeoutMs) != 0)) {
        platform::closeSocket(s);
        return platform::kInvalidSocket;
    }
    return s;
}

// True when the emulator closes `s` within 5 s (what it sent before is read
// and dropped).
bool closedByPeer(platform::SocketHandle s)
{
    char chunk[4096];
    for (int n = 0; n < 100 && platform::waitReadable(s, 5000);) {
        const int64_t got = platform::receiveSome(s, chunk, sizeof chunk);
        if (got <= 0)
            return true;
        ++n;
    }
    return false;
}

// The memory of all unfinished requests together is bounded: with 8 MiB,
// one connection holding a 3 MiB request that is still coming in leaves too
// little for a second one of 6 MiB, which is refused and closed, while a
// third client is still answered and the first connection stays open.
TEST(EmulatorProcess, UnfinishedRequestsTogetherAreBoundedAndOthersAreStillServed)
{
    EmulatorProcess emulator;
    std::string error;
    ASSERT_TRUE(emulator.start({"--max-request-memory", "8M"}, &error)) << error;
    platform::socketLibraryStartup();
    const std::string head = "tqBsePluginControlDll_Scenario_Upload=(s=";
    const std::string mib(std::size_t(1) << 20, 'x');

    const platform::SocketHandle first = connectRaw();
    ASSERT_NE(first, platform::kInvalidSocket);
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        // The request keeps coming (never quiet for the emulator's 200 ms),
        // so that it stays unfinished: 3 MiB, then a byte every 40 ms.
        platform::sendAll(first, head.data(), head.size());
        for (int k = 0; k < 3; ++k)
            platform::sendAll(first, mib.data(), mib.size());
        for (int k = 0; k < 250 && !stop; ++k) {
            platform::sendAll(first, "x", 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    const platform::SocketHandle second = connectRaw();
    ASSERT_NE(second, platform::kInvalidSocket);
    platform::sendAll(second, head.data(), head.size());
    for (int k = 0; k < 6; ++k)
        if (platform::sendAll(second, mib.data(), mib.size()) != 0)
            break; // closed by the emulator
    EXPECT_TRUE(closedByPeer(second));
    platform::closeSocket(second);
    EXPECT_NE(emulator.log().find("refused: its"), std::string::npos) << emulator.log();
    EXPECT_NE(emulator.log().find("past 8388608 bytes (--max-request-memory): closing"), std::string::npos);

    const std::string get = "tqBsePluginControlDll_RX_CentreFrequency_Get=(n=00000000)";
    EXPECT_EQ(rawExchange({get}, 0).substr(0, 49), "tqBsePluginControlDll_RX_CentreFrequency_Get=(n=0");
    // The first connection is still open: its request was never refused.
    EXPECT_TRUE(platform::waitWritable(first, 0));
    EXPECT_FALSE(platform::waitReadable(first, 0));
    stop = true;
    trickle.join();
    platform::closeSocket(first);
    EXPECT_EQ(emulator.log().find("request from 127.0.0.10 refused", emulator.log().find("refused: its") + 1),
              std::string::npos)
        << "more than one request refused: " << emulator.log();
    platform::socketLibraryCleanup();
}

// A file of this test's own under the test folder, holding `text`.
std::string traceFile(const std::string& name, const std::string& text)
{
    const std::string path = testing::TempDir() + "tqbse-replay-" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return path;
}

// Replay refuses what it cannot use, with a message and exit status 2, and
// takes a trace whose last line was cut off as it was written, with a
// warning: the same rule as tqbse trace.
TEST(EmulatorProcess, ReplayRefusesABadTraceAndTakesACutOffLastLine)
{
    const std::string call = R"x({"t":1000,"event":"call","request":"a=","reply":"a=(n=00000000)"})x";
    const std::string far = traceFile("far", call + "\n" + R"({"t":9223372036854775807,"event":"callback",)"
                                                 R"("message":"m","answer":"x"})" + "\n");
    const std::string early = traceFile("early", call + "\n" + R"({"t":-9223372036854775807,"event":"callback",)"
                                                   R"("message":"m","answer":"x"})" + "\n");
    const std::string badMiddle = traceFile("bad-middle", call + "\n{\"t\":2,\"ev\n" + call + "\n");
    const struct {
        std::string path, message;
    } refused[] = {
        {testing::TempDir(), "it is a folder, not a trace file"},
        {"/nonexistent-folder/trace.jsonl", "cannot read /nonexistent-folder/trace.jsonl: No such file"},
        {far, "far:2: the callback's time \"t\":9223372036854775807 lies more than 30 days after"},
        {badMiddle, "bad-middle:2: not a trace line"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.path);
        const ProgramRun run = runProgram(TQBSE_EMULATOR, {"--bind", "127.0.0.10", "--port", "1", "--replay", r.path});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.err.find(r.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find("listening"), std::string::npos);
    }

    // A callback recorded long before the first call is due at once, not refused.
    const std::string cut = traceFile("cut", call + "\n" + call.substr(0, 20));
    for (const std::string& path : {cut, early}) {
        EmulatorProcess emulator;
        std::string error;
        ASSERT_TRUE(emulator.start({"--replay", path}, &error)) << error;
        const bool warned = emulator.log().find("cut:2: the last line is cut off") != std::string::npos;
        EXPECT_EQ(warned, path == cut) << emulator.log();
        EXPECT_EQ(rawExchange({"a="}, 0), "a=(n=00000000)");
    }
    for (const std::string& path : {far, early, badMiddle, cut})
        std::remove(path.c_str());
}

} // namespace
} // namespace tqbse::test
