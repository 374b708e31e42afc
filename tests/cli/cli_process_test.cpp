// tqbse and the example host program run as subprocesses against the
// reference emulator on 127.0.0.20.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/fake_server.h"
#include "support/process.h"

namespace {

using namespace tqbse;
using test::ProgramRun;

// The tool and the example use the shared library, whose server port is
// the fixed 6002: the emulator listens there on an address of its own.
constexpr const char* kAddress = "127.0.0.20";
constexpr uint16_t kFixedServerPort = 6002;

ProgramRun tqbse(std::vector<std::string> args)
{
    args.insert(args.begin(), {"--server", kAddress});
    return test::runProgram(TQBSE_TOOL, args);
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class CliAgainstEmulator : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        emulator_ = new test::EmulatorProcess(kAddress, kFixedServerPort);
        std::string error;
        ASSERT_TRUE(emulator_->start({"--trace-length", "64", "--scenario-ms", "300"}, &error)) << error;
    }
    static void TearDownTestSuite()
    {
        delete emulator_;
        emulator_ = nullptr;
    }
    static test::EmulatorProcess* emulator_;
};
test::EmulatorProcess* CliAgainstEmulator::emulator_ = nullptr;

// Values print in full: a double with its fraction and no exponent, a float
// as it was set; a flag set by word travels as the library's own true, -1.
TEST_F(CliAgainstEmulator, SettersAndGettersRoundTrip)
{
    EXPECT_EQ(tqbse({"TX_CentreFrequency_Set", "0", "2110000000.5"}).out, "OK\n");
    EXPECT_EQ(tqbse({"TX_CentreFrequency_Get", "0"}).out, "frequency = 2110000000.5\n");
    EXPECT_EQ(tqbse({"RX_InputLevel_Set", "0", "-42.25"}).out, "OK\n");
    EXPECT_EQ(tqbse({"RX_InputLevel_Get", "0"}).out, "level = -42.25\n");
    EXPECT_EQ(tqbse({"LoggingState_Set", "on"}).out, "OK\n");
    EXPECT_EQ(tqbse({"LoggingState_Get"}).out, "state = -1\n");
}

TEST_F(CliAgainstEmulator, DownloadIsSizedFromItsQueryAndMatchesTheUpload)
{
    // Larger than one receive chunk, with balanced parentheses and a line end.
    std::string content;
    for (int i = 0; i < 400; ++i)
        content += "<step n=\"" + std::to_string(i) + "\">attach (cell 1)</step>\n";
    const std::string in = test::temporaryFile("in"), saved = test::temporaryFile("out");
    std::ofstream(in, std::ios::binary) << content;

    const ProgramRun up = tqbse({"--file", in, "Scenario_Upload", "cli_big"});
    ASSERT_EQ(up.exitCode, 0) << up.err;
    EXPECT_EQ(tqbse({"Scenario_Download", "cli_big"}).out, content);
    EXPECT_EQ(tqbse({"Scenario_Download", "cli_big", "--out", saved}).exitCode, 0);
    EXPECT_EQ(test::readFile(saved), content);
    ::unlink(in.c_str());
    ::unlink(saved.c_str());
}

// A trace sized by its length query, as CSV (one "x,y" line per point)
// and as JSON with the call, its result and its outputs by name.
TEST_F(CliAgainstEmulator, TraceAsCsvAndJsonHasOnePairPerPoint)
{
    ASSERT_EQ(tqbse({"Protocol_MeasurementEnabled_Set", "0", "1"}).exitCode, 0);
    const ProgramRun handle = tqbse({"Protocol_Results_GetHandle"});
    ASSERT_EQ(handle.exitCode, 0) << handle.err;
    const std::string h = handle.out.substr(handle.out.find("= ") + 2, handle.out.size() - handle.out.find("= ") - 3);
    const ProgramRun csv = tqbse({"--csv", "Protocol_Results_GetTrace", h, "1"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 64);
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), ','), 64);
    const std::string json = tqbse({"--json", "Protocol_Results_GetTrace", h, "1"}).out;
    EXPECT_TRUE(json.starts_with("{\"call\":\"Protocol_Results_GetTrace\",\"result\":0,\"outputs\":{")) << json;
    EXPECT_TRUE(contains(json, "\"xValues\":[") && contains(json, "\"yValues\":[")) << json;
    EXPECT_EQ(tqbse({"Results_DeleteHandle", h}).exitCode, 0);
}

// info: the connection, the server's version and the callback port, from
// the tool's own host queries.
TEST_F(CliAgainstEmulator, InfoReportsTheConnectionTheServerVersionAndTheCallbackPort)
{
    const ProgramRun r = tqbse({"--json", "info"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "\"port\":6002,\"connected\":true")) << r.out;
    EXPECT_TRUE(contains(r.out, "\"serverVersion\":\"6.0.0.0\"")) << r.out;
    EXPECT_TRUE(contains(r.out, "\"callbackPort\":6009,\"callbackListening\":")) << r.out;
    const ProgramRun text = tqbse({"info"});
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_TRUE(contains(text.out, "server version       6.0.0.0")) << text.out;
    EXPECT_TRUE(contains(text.out, "callback port 6009   listening (this process)")) << text.out;

    // Another program holding 6009 is not the tool's listener.
    const platform::SocketHandle holder = test::boundSocket("0.0.0.0", 6009, true, 0);
    ASSERT_NE(holder, platform::kInvalidSocket) << "port 6009 is taken";
    const ProgramRun taken = tqbse({"info"});
    platform::closeSocket(holder);
    EXPECT_TRUE(contains(taken.out, "callback port 6009   not listening")) << taken.out;
    EXPECT_TRUE(contains(taken.err, "bind() failed: ")) << taken.err;
}

// A text whose parentheses do not pair up is sent, with a warning first.
TEST_F(CliAgainstEmulator, ATextWithUnpairedParenthesesIsSentWithAWarning)
{
    const ProgramRun r = tqbse({"Scenario_Upload", "odd(", "x"});
    EXPECT_TRUE(contains(r.err, "warning: the parentheses in name do not pair up")) << r.err;
    EXPECT_FALSE(contains(r.err, "parentheses in content")) << r.err;
    EXPECT_EQ(tqbse({"Scenario_Upload", "even(1)", "x"}).err.find("warning"), std::string::npos);
}

// A refusal prints the code's text and the emulator's reason, read back from
// a trace of the tool's own or from the one the user asked for (which keeps
// the reply with the reason, and tqbse trace shows it).
TEST_F(CliAgainstEmulator, NegativeServerCodeExitsNonZeroWithItsTextAndTheEmulatorsReason)
{
    const ProgramRun r = tqbse({"Results_DeleteHandle", "987654"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_TRUE(contains(r.err, "tqbse: Results_DeleteHandle failed: -18 Remote Message Error - Internal Object Error! "
                                "(emulator: unknown results handle 987654)\n"))
        << r.err;

    EXPECT_TRUE(contains(tqbse({"--json", "Scenario_Download", "no_such_scenario"}).out,
                         "\"result\":-18,\"message\":\"Remote Message Error - Internal Object Error!\","
                         "\"serverReason\":\"scenario \\\"no_such_scenario\\\" not uploaded\""));

    const std::string trace = test::temporaryFile("user-trace");
    const ProgramRun traced = tqbse({"--trace", trace, "RX_CentreFrequency_Get", "9"});
    EXPECT_TRUE(contains(traced.err, "(emulator: RF path index 9 is outside 0..1)")) << traced.err;
    std::ifstream file(trace);
    const std::string lines((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(contains(lines, "\"reply\":\"tqBsePluginControlDll_RX_CentreFrequency_Get=(n=eeffffff)"
                                "(s=RF path index 9 is outside 0..1)\",\"result\":-18"))
        << lines;
    EXPECT_TRUE(contains(test::runProgram(TQBSE_TOOL, {"trace", trace, "--errors"}).out,
                         "RX_CentreFrequency_Get(index=9) → -18 TQBSE_INTERNAL_OBJECT_ERROR (emulator: RF path index 9 "
                         "is outside 0..1)   "));
    ::unlink(trace.c_str());
}

TEST_F(CliAgainstEmulator, ExampleHostProgramPasses)
{
    const ProgramRun r = test::runProgram(TQBSE_EXAMPLE, {kAddress}, 120000);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "RESULT: PASSED")) << r.out;
}

// Bad input is refused with exit 2 and one line saying why, before any
// connection is attempted (the parsing rules themselves: cli_rules_test).
TEST(CliBadInput, RefusedWithoutContactingTheServer)
{
    test::FakeServer sentinel(kAddress, kFixedServerPort);
    ASSERT_TRUE(sentinel.isListening()) << "cannot listen on 127.0.0.20:6002";
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"RX_CentreFrequency_Gett", "0"}, "unknown call 'RX_CentreFrequency_Gett'"},
        {{"rx_centrefrequency_get", "0"}, "did you mean RX_CentreFrequency_Get?"},
        {{"RX_CentreFrequncy_Get", "0"}, "did you mean RX_CentreFrequency_Get?"},
        {{"RX_CentreFrequency_Set", "zero", "1e9"}, "argument index 'zero' is not a valid int"},
        {{"--file", "/etc/hostname", "TestCase_Run", "0"}, "TestCase_Run takes no --file"},
        {{"--timeout", "0", "TestCase_Run", "0"}, "--timeout needs a positive number of milliseconds"},
    };
    for (const Case& c : cases) {
        const ProgramRun r = tqbse(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args.front();
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sentinel.connections(), 0);
}

// --timeout against a server that stalls in the middle of a reply, also
// the announcement's of Initialise: the tool gives up with its own exit
// status and says which call ran out of time, not that the server is
// unreachable.
TEST(CliTimeout, AStalledReplyEndsWithExitFourAndSaysSo)
{
    const struct {
        const char* stalledCall;
        const char* bytes;
        const char* reported;
    } cases[] = {{"RX_CentreFrequency_Get", "12", "RX_CentreFrequency_Get"}, {"RemoteConnection_Set", "0", "Initialise"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stalledCall);
        test::EmulatorProcess stalling("127.0.0.21", kFixedServerPort);
        std::string error;
        ASSERT_TRUE(stalling.start({"--fault-call", c.stalledCall, "--stall-after", c.bytes}, &error)) << error;
        const ProgramRun r =
            test::runProgram(TQBSE_TOOL, {"--server", "127.0.0.21", "--timeout", "300", "RX_CentreFrequency_Get", "0"});
        EXPECT_EQ(r.exitCode, 4) << r.err;
        EXPECT_TRUE(contains(r.err, std::string(c.reported) + ": no complete reply from 127.0.0.21 within 300 ms (--timeout)"))
            << r.err;
        EXPECT_FALSE(contains(r.err, "check the server address")) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
}

// `events` prints one server's events one per line until --count or
// --timeout; fewer than --count within --timeout is exit 4, bad options 2.
TEST(CliEvents, PrintsTheServersEventsUntilTheCountOrTheDeadline)
{
    test::EmulatorProcess ticking("127.0.0.22", kFixedServerPort);
    std::string error;
    ASSERT_TRUE(ticking.start({"--event-every", "20", "Tick"}, &error)) << error;
    const ProgramRun r = test::runProgram(TQBSE_TOOL, {"--server", "127.0.0.22", "events", "--count", "3", "--timeout", "10"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        EXPECT_EQ(line.rfind("Tick=(n=", 0), 0u) << line;
        ++count;
    }
    EXPECT_EQ(count, 3) << r.out;
    const ProgramRun short_ =
        test::runProgram(TQBSE_TOOL, {"--server", "127.0.0.22", "events", "--count=100000", "--timeout=0.3"});
    EXPECT_EQ(short_.exitCode, 4) << short_.err;
    EXPECT_FALSE(short_.out.empty());
    const ProgramRun bad = test::runProgram(TQBSE_TOOL, {"--server", "127.0.0.22", "events", "--count", "0"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(contains(bad.err, "--count needs a positive whole number")) << bad.err;
    const ProgramRun unreachable = test::runProgram(TQBSE_TOOL, {"--server", "127.0.0.23", "events", "--count", "1"});
    EXPECT_EQ(unreachable.exitCode, 3) << unreachable.err;
    EXPECT_TRUE(contains(unreachable.err, "check the server address")) << unreachable.err;
}

TEST(CliBadInput, UnreachableServerExplainsAndDoesNotHang)
{
    const test::RefusingPort refusing(kAddress, kFixedServerPort);
    ASSERT_TRUE(refusing.isHeld()) << "127.0.0.20:6002 is taken by another program";
    const ProgramRun r = tqbse({"RX_CentreFrequency_Get", "0"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(contains(r.err, "-14 Remote Message Error - No Response recieved from server")) << r.err;
    EXPECT_TRUE(contains(r.err, "check the server address")) << r.err;
    EXPECT_TRUE(r.out.empty());
}

// A host that unloads the library after Shutdown while the callback
// listener still runs, and lives on, 20 times over: the listener goes on
// answering from code that stays loaded.
TEST_F(CliAgainstEmulator, AHostThatUnloadsTheLibraryLivesOn)
{
    const ProgramRun r = test::runProgram(TQBSE_UNLOAD_HOST, {TQBSE_SHARED_LIBRARY, "20", "20"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "20 rounds: loaded, initialised, unloaded, still alive")) << r.out;
}

// tqbse --trace FILE refuses, before contacting the server, a trace it could
// not write (a folder, a full device, a FIFO that no program reads: never
// waited for), exit 2. tqbse trace FILE refuses a folder or a missing file with exit 2, and skips
// a cut-off last line with a warning.
TEST(CliTraceFiles, UnusableTracesAreRefusedAndACutOffLastLineIsSkipped)
{
    const std::string fifo = test::temporaryFile("fifo");
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path, message;
    } unwritable[] = {
        {"/tmp", "cannot write the trace to /tmp: Is a directory"},
        {"/dev/full", "cannot write the trace to /dev/full: No space left on device"},
        {fifo, "cannot write the trace to " + fifo + ": a FIFO that no program reads"},
        {"/nonexistent-folder/t.jsonl", "cannot write the trace to /nonexistent-folder/t.jsonl: No such file"},
    };
    for (const auto& u : unwritable) {
        SCOPED_TRACE(u.path);
        const ProgramRun run = test::runProgram(TQBSE_TOOL, {"--server", "127.0.0.21", "--trace", u.path,
                                                             "RX_CentreFrequency_Get", "0"}, 10000);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(contains(run.err, "tqbse: " + u.message)) << run.err;
        EXPECT_EQ(run.out, "");
    }
    ::unlink(fifo.c_str());

    for (const std::string& path : {std::string("/tmp"), std::string("/nonexistent-folder/t.jsonl")}) {
        const ProgramRun run = test::runProgram(TQBSE_TOOL, {"trace", path}, 10000);
        EXPECT_EQ(run.exitCode, 2) << path;
        EXPECT_TRUE(contains(run.err, "tqbse: cannot read " + path + ": ")) << run.err;
    }
    const std::string cut = test::temporaryFile("cut");
    std::ofstream(cut, std::ios::binary)
        << R"x({"t":1,"event":"connect","detail":"127.0.0.1:6002"})x" "\n"
        << R"x({"t":2,"event":"call","name":"tqBsePluginControlDll_RX_Centre)x";
    const ProgramRun run = test::runProgram(TQBSE_TOOL, {"trace", cut}, 10000);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "    0.000000  [connect 127.0.0.1:6002]\n");
    EXPECT_EQ(run.err, "tqbse: warning: " + cut + ":2: the last line is cut off (the trace's writing stopped there); "
                       "it is skipped\n");
    ::unlink(cut.c_str());
}

// tqbse trace --plot writes the drawing and nothing on standard output;
// the failed call is ringed in red in the scatter plot and red in its
// histogram bar; the histogram's axis spans the trace's reply times (64 µs
// to 8.19 ms here, not 1 µs to seconds) and each row shows its count scale.
TEST(CliTraceFiles, PlotIsQuietMarksFailedCallsAndFitsItsAxisToTheData)
{
    const std::string trace = test::temporaryFile("plot-trace"), svg = test::temporaryFile("plot") + ".svg";
    const auto call = [](int t, const char* name, const char* in, const char* reply, int result, int us) {
        return R"({"t":)" + std::to_string(t) + R"(,"event":"call","name":"tqBsePluginControlDll_)" + name
            + R"(","request":"tqBsePluginControlDll_)" + name + "=" + in + R"(","reply":"tqBsePluginControlDll_)"
            + name + "=" + reply + R"(","result":)" + std::to_string(result) + R"(,"us":)" + std::to_string(us)
            + "}\n";
    };
    std::ofstream(trace, std::ios::binary)
        << call(1000, "RX_CentreFrequency_Get", "(n=00000000)", "(n=00000000)(d=000000e0a80edd41)", 0, 75)
        << call(2000, "RX_CentreFrequency_Get", "(n=00000000)", "(n=00000000)(d=000000e0a80edd41)", 0, 90)
        << call(3000, "Results_DeleteHandle", "(n=05000000)", "(n=eeffffff)", -18, 5000);
    const ProgramRun run = test::runProgram(TQBSE_TOOL, {"trace", trace, "--plot", svg}, 10000);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    const std::string drawing = test::readFile(svg);
    auto count = [&](const std::string& part) {
        std::size_t n = 0;
        for (std::size_t at = drawing.find(part); at != std::string::npos; at = drawing.find(part, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count(R"(<circle class="failed")"), 1u) << drawing;
    EXPECT_EQ(count(R"(<rect class="failed")"), 1u) << drawing;
    EXPECT_TRUE(contains(drawing, R"(<text class="bin" x="70.0" y=")")) << drawing;
    EXPECT_TRUE(contains(drawing, R"(text-anchor="middle">64 µs</text>)")) << drawing;
    EXPECT_TRUE(contains(drawing, R"(text-anchor="middle">8.19 ms</text>)")) << drawing;
    EXPECT_FALSE(contains(drawing, ">1 µs<")) << drawing;
    EXPECT_EQ(count(R"(<text class="count")"), 2u) << drawing;
    EXPECT_TRUE(contains(drawing, R"(text-anchor="end">2</text>)")) << drawing;
    ::unlink(trace.c_str());
    ::unlink(svg.c_str());
}

// tqbse shell keeps its history in the user's data directory between runs
// ($XDG_DATA_HOME/tqbse/history, else ~/.local/share/tqbse/history), its
// last 1000 lines: a second shell recalls the first one's line with Ctrl-P.
TEST(CliShell, HistorySurvivesARestartAndKeepsTheLastThousandLines)
{
    char dir[] = "/tmp/tqbse-test-home-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string home = dir, data = home + "/data";
    auto shell = [&](const std::string& environment, const std::string& input) {
        return test::runProgram("/bin/sh", {"-c", "printf '" + input + "' | env " + environment + " " TQBSE_TOOL
                                                " --server 127.0.0.21 shell"}, 10000);
    };
    const std::string xdg = "HOME=" + home + " XDG_DATA_HOME=" + data;
    ASSERT_EQ(shell(xdg, "help\\n").exitCode, 0);
    EXPECT_EQ(test::readFile(data + "/tqbse/history"), "help\n");
    const ProgramRun recalled = shell(xdg, "\\020\\n");
    EXPECT_TRUE(contains(recalled.out, "Initialise A B C D  connect to another server")) << recalled.out;
    EXPECT_TRUE(shell("HOME=" + home + " XDG_DATA_HOME=" + home + "/empty", "\\020\\n").out.empty());

    // Without XDG_DATA_HOME: under HOME; a long history is cut to its last lines.
    ASSERT_EQ(::system(("mkdir -p " + home + "/.local/share/tqbse").c_str()), 0);
    {
        std::ofstream old(home + "/.local/share/tqbse/history");
        for (int i = 0; i < 1500; ++i)
            old << "list " << i << "\n";
    }
    ASSERT_EQ(shell("-u XDG_DATA_HOME HOME=" + home, "info\\n").exitCode, 0);
    const std::string kept = test::readFile(home + "/.local/share/tqbse/history");
    EXPECT_EQ(std::count(kept.begin(), kept.end(), '\n'), 1000);
    EXPECT_TRUE(kept.starts_with("list 501\n") && kept.ends_with("list 1499\ninfo\n")) << kept.substr(0, 40);
    ASSERT_EQ(::system(("rm -rf " + home).c_str()), 0);
}

} // namespace
