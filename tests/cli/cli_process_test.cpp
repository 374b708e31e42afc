// tqbse and the example host program run as subprocesses against the
// reference emulator on 127.0.0.20.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "cli/json.h"
#include "support/fake_server.h"
#include "support/process.h"

namespace {

using namespace tqbse;
using test::Json;
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

Json parseJson(const std::string& text)
{
    const Json doc = Json::parse(text);
    EXPECT_TRUE(doc.valid()) << text;
    return doc;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        out.push_back(text.substr(at, (end == std::string::npos ? text.size() : end) - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return out;
}

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
    void SetUp() override { ASSERT_TRUE(emulator_ && emulator_->running()); }
    static test::EmulatorProcess* emulator_;
};
test::EmulatorProcess* CliAgainstEmulator::emulator_ = nullptr;

TEST_F(CliAgainstEmulator, SettersAndGettersRoundTrip)
{
    struct Case {
        const char* set;
        const char* get;
        const char* value;
        const char* printed;
    } cases[] = {
        {"RX_CentreFrequency_Set", "RX_CentreFrequency_Get", "1.8e9", "frequency = 1800000000\n"},
        {"TX_CentreFrequency_Set", "TX_CentreFrequency_Get", "2110000000.5", "frequency = 2110000000.5\n"},
        {"RX_InputLevel_Set", "RX_InputLevel_Get", "-42.25", "level = -42.25\n"},
        {"TX_ReferenceLevel_Set", "TX_ReferenceLevel_Get", "-7.5", "level = -7.5\n"},
    };
    for (const Case& c : cases) {
        const ProgramRun set = tqbse({c.set, "0", c.value});
        EXPECT_EQ(set.exitCode, 0) << c.set << set.err;
        EXPECT_EQ(set.out, "OK\n");
        const ProgramRun get = tqbse({c.get, "0"});
        EXPECT_EQ(get.exitCode, 0) << c.get << get.err;
        EXPECT_EQ(get.out, c.printed);
    }
    // A flag set by word travels as the library's own true, -1.
    EXPECT_EQ(tqbse({"LoggingState_Set", "on"}).exitCode, 0);
    EXPECT_EQ(tqbse({"LoggingState_Get"}).out, "state = -1\n");
}

TEST_F(CliAgainstEmulator, DownloadIsSizedFromItsQueryAndMatchesTheUpload)
{
    // Larger than one receive chunk, with balanced parentheses and a line end.
    std::string content = "<scenario>\n";
    for (int i = 0; i < 400; ++i)
        content += "  <step n=\"" + std::to_string(i) + "\">attach (cell 1)</step>\n";
    content += "</scenario>\n";
    const std::string in = test::temporaryFile("in"), saved = test::temporaryFile("out");
    std::ofstream(in, std::ios::binary) << content;

    const ProgramRun up = tqbse({"--file", in, "Scenario_Upload", "cli_big"});
    ASSERT_EQ(up.exitCode, 0) << up.err;
    const ProgramRun size = tqbse({"Scenario_DownloadSize_Get", "cli_big"});
    EXPECT_EQ(size.exitCode, 0);
    const ProgramRun down = tqbse({"Scenario_Download", "cli_big"});
    ASSERT_EQ(down.exitCode, 0) << down.err;
    EXPECT_EQ(down.out, content);

    const ProgramRun toFile = tqbse({"Scenario_Download", "cli_big", "--out", saved});
    EXPECT_EQ(toFile.exitCode, 0);
    EXPECT_EQ(test::readFile(saved), content);
    ::unlink(in.c_str());
    ::unlink(saved.c_str());
}

TEST_F(CliAgainstEmulator, TraceAsCsvHasOnePairPerPoint)
{
    ASSERT_EQ(tqbse({"Protocol_MeasurementEnabled_Set", "0", "1"}).exitCode, 0);
    const Json handleJson = parseJson(tqbse({"--json", "Protocol_Results_GetHandle"}).out);
    ASSERT_EQ(handleJson["result"].number, 0);
    const std::string handle = std::to_string(int(handleJson["outputs"]["handle"].number));

    const ProgramRun length = tqbse({"Protocol_Results_GetTraceLength", handle, "1"});
    ASSERT_EQ(length.out, "length = 64\n");
    const ProgramRun csv = tqbse({"--csv", "Protocol_Results_GetTrace", handle, "1"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    ASSERT_FALSE(csv.out.empty());
    ASSERT_EQ(csv.out.back(), '\n');
    const std::vector<std::string> rows = lines(csv.out.substr(0, csv.out.size() - 1));
    ASSERT_EQ(rows.size(), 64u);
    double previousX = -1e300;
    std::vector<double> ys;
    for (const std::string& row : rows) {
        const std::size_t comma = row.find(',');
        ASSERT_NE(comma, std::string::npos) << row;
        char* endX = nullptr;
        char* endY = nullptr;
        const std::string xText = row.substr(0, comma), yText = row.substr(comma + 1);
        const double x = std::strtod(xText.c_str(), &endX);
        ys.push_back(std::strtod(yText.c_str(), &endY));
        EXPECT_TRUE(*endX == '\0' && *endY == '\0' && !xText.empty() && !yText.empty()) << row;
        EXPECT_GT(x, previousX);
        previousX = x;
    }

    // The same points as JSON, parsed back.
    const Json trace = parseJson(tqbse({"--json", "Protocol_Results_GetTrace", handle, "1"}).out);
    const Json& xs = trace["outputs"]["xValues"];
    const Json& yValues = trace["outputs"]["yValues"];
    ASSERT_EQ(xs.items.size(), 64u);
    ASSERT_EQ(yValues.items.size(), 64u);
    EXPECT_EQ(yValues[5].number, ys[5]);
    EXPECT_EQ(tqbse({"Results_DeleteHandle", handle}).exitCode, 0);
}

TEST_F(CliAgainstEmulator, JsonOutputParsesBack)
{
    ASSERT_EQ(tqbse({"RX_CentreFrequency_Set", "1", "900e6"}).exitCode, 0);
    const Json get = parseJson(tqbse({"--json", "RX_CentreFrequency_Get", "1"}).out);
    EXPECT_EQ(get["call"].text, "RX_CentreFrequency_Get");
    EXPECT_EQ(get["result"].type, Json::Type::Number);
    EXPECT_EQ(get["result"].number, 0);
    EXPECT_EQ(get["outputs"]["frequency"].number, 900e6);

    const Json version = parseJson(tqbse({"--json", "GetServerVersion"}).out)["outputs"]["version"];
    ASSERT_EQ(version.items.size(), 4u);
    EXPECT_EQ(version[0].number, 6);
    EXPECT_EQ(version[1].number + version[2].number + version[3].number, 0);

    const Json name = parseJson(tqbse({"--json", "TestCase_Name_Get", "0"}).out);
    EXPECT_EQ(name["outputs"]["buffer"].type, Json::Type::String);
    EXPECT_FALSE(name["outputs"]["buffer"].text.empty());

    const Json list = parseJson(test::runProgram(TQBSE_TOOL, {"--json", "list"}).out);
    ASSERT_EQ(list.type, Json::Type::Array);
    EXPECT_EQ(list.items.size(), 75u);
    EXPECT_EQ(list[0]["call"].text, "Initialise");
    EXPECT_EQ(list[0]["args"].items.size(), 4u);

    const Json info = parseJson(tqbse({"--json", "info"}).out);
    EXPECT_EQ(info["connected"].type, Json::Type::Bool);
    EXPECT_TRUE(info["connected"].boolean);
    EXPECT_EQ(info["serverVersion"].text, "6.0.0.0");
    EXPECT_EQ(info["roundTrips"].number, 20);
    EXPECT_EQ(info["medianRoundTripMs"].type, Json::Type::Number);
    EXPECT_GE(info["medianRoundTripMs"].number, 0.0);
}

TEST_F(CliAgainstEmulator, NegativeServerCodeExitsNonZeroWithItsText)
{
    const ProgramRun r = tqbse({"Results_DeleteHandle", "987654"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_TRUE(contains(r.err, "Results_DeleteHandle failed: -18 Remote Message Error - Internal Object Error!"))
        << r.err;

    const Json json = parseJson(tqbse({"--json", "Scenario_Download", "no_such_scenario"}).out);
    EXPECT_EQ(json["result"].number, -18);
    EXPECT_EQ(json["message"].text, "Remote Message Error - Internal Object Error!");
}

TEST_F(CliAgainstEmulator, ExampleHostProgramPasses)
{
    const ProgramRun r = test::runProgram(TQBSE_EXAMPLE, {kAddress}, 120000);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "RESULT: PASSED")) << r.out;
    EXPECT_FALSE(contains(r.out, "[FAIL]"));
}

// Bad input is refused with exit 2 before any connection is attempted.
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
        {{"RX_CentreFrequency_Set", "0"}, "expected: RX_CentreFrequency_Set index:int frequency:double"},
        {{"RX_CentreFrequency_Set", "0", "1e9", "5"}, "takes 2 arguments, got 3"},
        {{"RX_CentreFrequency_Set", "zero", "1e9"}, "argument index 'zero' is not a valid int"},
        {{"RX_InputLevel_Set", "0", "-5dBm"}, "argument level '-5dBm' is not a valid float"},
        {{"LoggingState_Set", "maybe"}, "argument state 'maybe' is not a valid flag"},
        {{"Scenario_Download"}, "expected: Scenario_Download name:text"},
        {{"--file", "/etc/hostname", "TestCase_Run", "0"}, "TestCase_Run takes no --file"},
        {{"--nonsense", "TestCase_Run", "0"}, "unknown option --nonsense"},
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

// --timeout against a server that stalls in the middle of the reply: the
// tool gives up with its own exit status and says what happened.
TEST(CliTimeout, StalledReplyEndsWithExitFourAndSaysSo)
{
    test::EmulatorProcess stalling("127.0.0.21", kFixedServerPort);
    std::string error;
    ASSERT_TRUE(stalling.start({"--fault-call", "RX_CentreFrequency_Get", "--stall-after", "12"}, &error)) << error;
    const ProgramRun r =
        test::runProgram(TQBSE_TOOL, {"--server", "127.0.0.21", "--timeout", "300", "RX_CentreFrequency_Get", "0"});
    EXPECT_EQ(r.exitCode, 4) << r.err;
    EXPECT_TRUE(contains(r.err, "no complete reply from 127.0.0.21 within 300 ms (--timeout)")) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    // Calls the fault leaves alone still answer within the deadline.
    const ProgramRun ok =
        test::runProgram(TQBSE_TOOL, {"--server", "127.0.0.21", "--timeout", "300", "RX_CentreFrequency_Set", "0", "1e9"});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
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

} // namespace
