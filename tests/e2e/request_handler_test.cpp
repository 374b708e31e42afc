// The emulator's request handling without sockets: every remote row answered
// in a shape the library's own reply reader accepts, the request checks, the
// framing, the model's rules, the reply faults, the trace format and the
// option parser.
#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "client/call_remote.h"
#include "emulator/faults.h"
#include "emulator/model.h"
#include "emulator/options.h"
#include "emulator/request_handler.h"
#include "emulator/trace_format.h"
#include "protocol/call_table.h"
#include "protocol/codec.h"
#include "protocol/framer.h"

namespace tqbse::emu {
namespace {

const std::string kPrefix = "tqBsePluginControlDll_";

int32_t resultOf(const std::string& reply)
{
    const codec::SplitMessage m = codec::splitMessage(reply);
    int32_t code = 99;
    if (m.params.empty() || codec::decodeInt(m.params[0], &code) != codec::kOk)
        ADD_FAILURE() << "no result code in " << reply.substr(0, 200);
    return code;
}

int32_t call(Model& model, const std::string& request, const CallContext& context = {})
{
    return resultOf(handleRequest(model, request, context));
}

std::string tokenN(int32_t v) { return codec::encodeInt(v); }

// Storage for one row's C arguments, filled so that the call can succeed.
struct RowArgs {
    std::vector<ArgValue> args;
    std::vector<int32_t> ints = std::vector<int32_t>(8, 0);
    float f = 0;
    double d[2] = {0, 0};
    std::vector<char> text = std::vector<char>(1 << 16, 0);
    std::vector<double> x = std::vector<double>(1 << 16), y = std::vector<double>(1 << 16);
};

// Every remote row, called through the library's own request builder and
// reply reader: the emulator serves it, with a success code and outputs
// that decode into the row's out-parameters.
TEST(EmulatorRequests, EveryRemoteRowSucceedsThroughTheLibraryReader)
{
    EXPECT_TRUE(callsWithoutHandler().empty());
    Model model(defaultConfig());
    ASSERT_EQ(call(model, kPrefix + "LTE_MeasurementEnabled_Set=" + tokenN(1) + tokenN(0) + tokenN(-1)), 0);
    auto takeHandle = [&](const std::string& request) {
        const std::string reply = handleRequest(model, request);
        const codec::SplitMessage m = codec::splitMessage(reply);
        int32_t h = -1;
        EXPECT_EQ(m.params.size(), 2u);
        if (m.params.size() == 2)
            codec::decodeInt(m.params[1], &h);
        return h;
    };
    // A fresh handle for every row that takes one: rows met earlier (the
    // protocol reset, the measurement switches) may have ended the last one.
    auto freshHandle = [&](Family family) {
        if (family == Family::LteResults)
            return takeHandle(kPrefix + "LTE_Results_GetHandle=" + tokenN(1));
        EXPECT_EQ(call(model, kPrefix + "Protocol_MeasurementEnabled_Set=" + tokenN(0) + tokenN(-1)), 0);
        return takeHandle(kPrefix + "Protocol_Results_GetHandle=");
    };

    int served = 0;
    for (const CallDesc* row : allCalls()) {
        if (row->kind == CallKind::Local)
            continue;
        SCOPED_TRACE(row->name);
        RowArgs a;
        int ints = 0;
        for (int p = 0; p < row->paramCount; ++p) {
            const ParamDesc& param = row->params[p];
            const std::string name = param.name;
            switch (param.role) {
            case ParamRole::InText:
                a.args.emplace_back(row->family == Family::Scenarios      ? "Idle_Camping"
                                    : row->family == Family::DebugFilters ? "MAC"
                                                                          : "attach_accept.xml");
                if (name == "content")
                    a.args.back() = ArgValue("<new/>");
                break;
            case ParamRole::InFloat: a.args.emplace_back(-20.5f); break;
            case ParamRole::InDouble: a.args.emplace_back(2.0e9); break;
            case ParamRole::OutInt: case ParamRole::OutBool: case ParamRole::OutVersion:
                a.args.emplace_back(&a.ints[std::size_t(ints)]);
                ints += 4;
                break;
            case ParamRole::OutFloat: a.args.emplace_back(&a.f); break;
            case ParamRole::OutDouble: a.args.emplace_back(&a.d[name == "secondValue"]); break;
            case ParamRole::OutText: a.args.emplace_back(a.text.data()); break;
            case ParamRole::OutArray: a.args.emplace_back(name == "xValues" ? a.x.data() : a.y.data()); break;
            case ParamRole::TextLimit: case ParamRole::BufferSize: case ParamRole::Capacity: case ParamRole::LocalSize:
                a.args.emplace_back(int32_t(1 << 16));
                break;
            default: {
                int32_t v = param.role == ParamRole::InBool ? -1 : 0; // flags on; index, trace, item 0
                if (name == "handle")
                    v = freshHandle(row->family);
                if (name == "index" && row->family == Family::LteResults)
                    v = 1;
                a.args.emplace_back(v);
            }
            }
        }
        const std::string reply = handleRequest(model, buildRequest(*row, a.args.data()));
        codec::SplitMessage message;
        int32_t result = 99;
        ASSERT_EQ(checkReply(*row, reply, &message, &result), 0) << reply.substr(0, 200);
        EXPECT_EQ(result, 0) << reply.substr(0, 200);
        EXPECT_EQ(writeOutputs(*row, a.args.data(), message), 0);
        const std::size_t outputs = row->shortName() == "GetServerVersion" ? 4 : row->outputCount;
        EXPECT_EQ(message.params.size(), 1 + outputs);
        ++served;
    }
    EXPECT_EQ(served, 72);
}

TEST(EmulatorRequests, MalformedRequestsGetWellFormedErrorReplies)
{
    const struct {
        std::string request;
        int32_t code;
    } cases[] = {
        {kPrefix + "NoSuchCall=" + tokenN(1), -8},
        {"RX_CentreFrequency_Get=" + tokenN(0), -8},           // the prefix is part of the name
        {kPrefix + "Initialise=", -8},                          // local to the library
        {kPrefix + "TarquelPrivateData_Set=" + tokenN(1), -8},
        {kPrefix + "RX_CentreFrequency_Get", -8},               // no "="
        {"", -8},
        {kPrefix + "RX_CentreFrequency_Get=", -9},
        {kPrefix + "RX_CentreFrequency_Get=" + tokenN(0) + tokenN(0), -9},
        {kPrefix + "LoggingState_Get=" + tokenN(0), -9},
        {kPrefix + "Scenario_Upload=(s=only-the-content)", -9}, // a too-long name left out
        {kPrefix + "RX_CentreFrequency_Get=(f=00000000)", -20},
        {kPrefix + "RX_CentreFrequency_Set=" + tokenN(0) + "(f=00000000)", -20},
        {kPrefix + "RX_InputLevel_Set=" + tokenN(0) + "(d=0000000000000000)", -20},
        {kPrefix + "Scenario_Execute=" + tokenN(0), -20},
        {kPrefix + "TestCase_Run=(s=0)", -20},
        {kPrefix + "TestCase_Run=(n=0z000000)", -6},
        {kPrefix + "TestCase_Run=(n=0000)", -6},
        {kPrefix + "TestCase_Run=" + tokenN(99), kUnknownObject},
    };
    Model model(defaultConfig());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        const std::string reply = handleRequest(model, c.request);
        const codec::SplitMessage m = codec::splitMessage(reply);
        EXPECT_EQ(m.name, codec::splitMessage(c.request).name);
        EXPECT_EQ(m.name, messageName(c.request));
        ASSERT_EQ(m.params.size(), 1u) << reply;
        EXPECT_EQ(resultOf(reply), c.code);
        EXPECT_EQ(reply, codec::resultOnlyReply(m.name, c.code));
    }
}

TEST(EmulatorRequests, RequestCompleteness)
{
    const std::string set = kPrefix + "RX_CentreFrequency_Set=";
    const std::string upload = kPrefix + "Scenario_Upload=";
    const struct {
        std::string buffer;
        bool complete;
    } cases[] = {
        {kPrefix + "RX_Centre", false},
        {kPrefix + "LoggingState_Get=", true},
        {kPrefix + "NoSuchCall=", true},
        {kPrefix + "NoSuchCall=(n=01000000)", true},
        {kPrefix + "RX_CentreFrequency_Get=", false}, // its index has not arrived yet
        {set + tokenN(0), false},
        {set + tokenN(0) + "(d=00000000", false},
        {set + tokenN(0) + "(d=0000000065cdcd41)", true},
        {upload + "(s=a)(s=x(y)z)", true},
        {upload + "(s=a)(s=x(y)", false},
        {upload + "(s=a)(s=x(y)z)(s=", false},
        {"garbage", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.buffer);
        EXPECT_EQ(isRequestComplete(c.buffer), c.complete);
        // Fed byte by byte, the server's framer comes to the same verdict.
        RequestFramer framer;
        std::string grown;
        for (char ch : c.buffer) {
            grown.push_back(ch);
            framer.feed(grown);
        }
        EXPECT_EQ(framer.complete(), c.complete);
    }
}

TEST(EmulatorModel, ScenarioRunsForItsConfiguredTime)
{
    Config config = defaultConfig();
    config.scenarioRunMs = 1000;
    Model model(config);
    const Clock::time_point t0 = Clock::now();
    auto running = [&](int ms) {
        CallContext c;
        c.now = t0 + std::chrono::milliseconds(ms);
        const std::string reply = handleRequest(model, kPrefix + "Scenario_IsRunning_Get=", c);
        const codec::SplitMessage m = codec::splitMessage(reply);
        int32_t v = -99;
        codec::decodeInt(m.params.back(), &v);
        return v;
    };
    EXPECT_EQ(running(0), 0);
    CallContext start;
    start.now = t0;
    start.peer = "127.0.0.5";
    ASSERT_EQ(call(model, kPrefix + "Scenario_Execute=(s=Call_Setup)", start), 0);
    EXPECT_EQ(running(999), 1);
    EXPECT_FALSE(model.takeFinishedScenario(t0 + std::chrono::milliseconds(999)));
    EXPECT_EQ(running(1000), 0);
    const auto finished = model.takeFinishedScenario(t0 + std::chrono::milliseconds(1000));
    ASSERT_TRUE(finished);
    EXPECT_EQ(finished->name, "Call_Setup");
    EXPECT_EQ(finished->peer, "127.0.0.5");
    EXPECT_FALSE(model.takeFinishedScenario(t0 + std::chrono::milliseconds(2000))); // reported once
    EXPECT_EQ(call(model, kPrefix + "Scenario_Execute=(s=NoSuchScenario)"), kUnknownObject);
}

TEST(EmulatorModel, ProtocolResetReleasesOnlyProtocolHandles)
{
    Model model(defaultConfig());
    ASSERT_EQ(call(model, kPrefix + "Protocol_Results_GetHandle="), kUnknownObject); // nothing measured yet
    ASSERT_EQ(call(model, kPrefix + "Protocol_MeasurementEnabled_Set=" + tokenN(0) + tokenN(1)), 0);
    ASSERT_EQ(call(model, kPrefix + "LTE_MeasurementEnabled_Set=" + tokenN(0) + tokenN(3) + tokenN(1)), 0);
    ASSERT_EQ(call(model, kPrefix + "Protocol_Results_GetHandle="), 0); // handle 1
    ASSERT_EQ(call(model, kPrefix + "LTE_Results_GetHandle=" + tokenN(0)), 0); // handle 2
    EXPECT_EQ(call(model, kPrefix + "LTE_Results_Cell_Get=" + tokenN(1)), kUnknownObject); // wrong family
    ASSERT_EQ(call(model, kPrefix + "FullProtocolReset="), 0);
    EXPECT_EQ(call(model, kPrefix + "Protocol_Results_GetTraceLength=" + tokenN(1) + tokenN(0)), kUnknownObject);
    EXPECT_EQ(call(model, kPrefix + "LTE_Results_Cell_Get=" + tokenN(2)), 0);
    EXPECT_EQ(call(model, kPrefix + "Protocol_Results_GetHandle="), kUnknownObject);
    EXPECT_EQ(call(model, kPrefix + "Results_DeleteHandle=" + tokenN(2)), 0);
    EXPECT_EQ(call(model, kPrefix + "Results_DeleteHandle=" + tokenN(2)), kUnknownObject);
}

// The codes each fault gives through the library: process_test.
TEST(EmulatorFaults, BadHexAndCallFilter)
{
    FaultOptions badHex;
    badHex.badHex = true; // no numeric output: the result code itself breaks
    const std::string brokenReply = applyReplyFaults(badHex, "X=(n=00000000)(s=abc)");
    const codec::SplitMessage broken = codec::splitMessage(brokenReply);
    ASSERT_EQ(broken.params.size(), 2u);
    int32_t code = 0;
    EXPECT_EQ(codec::decodeInt(broken.params[0], &code), codec::kContentsMismatch);
    EXPECT_EQ(broken.params[1], "(s=abc)");

    FaultOptions only;
    only.call = "Scenario_Execute";
    EXPECT_TRUE(only.appliesTo(kPrefix + "Scenario_Execute"));
    EXPECT_TRUE(only.appliesTo("Scenario_Execute"));
    EXPECT_FALSE(only.appliesTo(kPrefix + "Scenario_Execute_Get"));
    EXPECT_FALSE(only.appliesTo("Other_Scenario_Execute"));

    FaultOptions other;
    other.missingOutputs = true;
    other.wrongName = true;
    EXPECT_EQ(applyReplyFaults(other, "X=(n=00000000)(s=abc)(d=0000000000000000)"), "X_Wrong=(n=00000000)");
    FaultOptions arrayHex;
    arrayHex.badHex = true; // the first numeric output is an array: its first digits break
    EXPECT_EQ(applyReplyFaults(arrayHex, "X=(n=00000000)(da=1[000000000000f03f])"),
              "X=(n=00000000)(da=1[zz0000000000f03f])");
    EXPECT_EQ(applyReplyFaults(arrayHex, "no equals sign"), "no equals sign");
}

TEST(EmulatorFaults, PiecesCoverTheReplyAndOnlyTheLastEndsTheReply)
{
    const std::string reply = "N=(n=00000000)(s=a))(b)(d=0000000000000000)";
    for (int size : {1, 2, 3, 5, 14, 100}) {
        SCOPED_TRACE(size);
        const std::vector<std::size_t> ends = pieceEnds(reply, size);
        ASSERT_FALSE(ends.empty());
        EXPECT_EQ(ends.back(), reply.size());
        for (std::size_t i = 0; i + 1 < ends.size(); ++i) {
            EXPECT_LT(ends[i], ends[i + 1]);
            EXPECT_NE(reply[ends[i] - 1], ')');
        }
    }
    const std::size_t cut = midReplyCut(reply);
    EXPECT_GT(cut, 0);
    EXPECT_LT(cut, reply.size());
    EXPECT_NE(reply[cut - 1], ')');
}

TEST(EmulatorTrace, NumbersAreDecoded)
{
    std::string m = "X=";
    codec::appendInt(m, -7);
    codec::appendFloat(m, 2.5f);
    codec::appendDouble(m, 1e9);
    m += "(s=hello)";
    const double values[] = {1.5, 2.5, 3.5, 4.5};
    codec::appendDoubleArray(m, values, 4);
    EXPECT_EQ(describeMessage(m), "X(n=-7, f=2.5, d=1000000000, s[5]\"hello\", da[4]{1.5, 2.5, 3.5, ...})");
    EXPECT_EQ(describeMessage("Y=(s=NULL)(n=zz)(s=" + std::string(30, 'a') + ")"),
              "Y(s=NULL, raw[6]\"(n=zz)\", s[30]\"aaaaaaaaaaaaaaaaaaaaaaaa...\")");
}

// The trace's numbers read as they always have: ten significant digits,
// halfway cases away from zero, no sign on zero or NaN.
TEST(EmulatorTrace, NumberText)
{
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {0.0, "0"},           {-0.0, "0"},          {1e9, "1000000000"},    {2.5, "2.5"},
        {1e-5, "1e-05"},      {1e10, "1e+10"},      {0.1, "0.1"},           {-20.5, "-20.5"},
        {1.0 / 3, "0.3333333333"}, {1234567890.5, "1234567891"}, {-1234567890.5, "-1234567891"},
        {9999999999.5, "1e+10"}, {0.0001, "0.0001"}, {123456789012.0, "1.23456789e+11"},
        {5e-324, "4.940656458e-324"}, {1e300, "1e+300"}, {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"}, {std::numeric_limits<double>::quiet_NaN(), "nan"},
        {-std::numeric_limits<double>::quiet_NaN(), "nan"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(numberText(c.value), c.text) << c.text;
}

TEST(EmulatorOptions, ParsesAndRejects)
{
    Options o;
    std::string error;
    ASSERT_TRUE(parseOptions({"--bind", "127.0.0.10", "--port", "7000", "--version", "5.9.9.9", "--trace",
                              "--fault-call", "TestCase_Run", "--close-after", "2", "--piece-size", "3"},
                             &o, &error))
        << error;
    EXPECT_EQ(o.bind, "127.0.0.10");
    EXPECT_EQ(o.port, 7000);
    EXPECT_EQ(*o.version, (std::array<int32_t, 4>{5, 9, 9, 9}));
    EXPECT_TRUE(o.trace);
    EXPECT_EQ(o.faults.call, "TestCase_Run");
    EXPECT_EQ(o.faults.closeAfter, 2);
    EXPECT_EQ(o.faults.pieceSize, 3);
    using Args = std::vector<std::string>;
    const struct {
        Args args;
        const char* error;
    } bad[] = {
        {{"--port", "0"}, "--port: bad value '0'"},
        {{"--port"}, "--port needs a value"},
        {{"--bind", "host"}, "--bind: not an IPv4 address 'host'"},
        {{"--bind", "127.0.0.010"}, "--bind: not an IPv4 address '127.0.0.010'"},
        {{"--version", "6.0.0"}, "--version: expected A.B.C.D, got '6.0.0'"},
        {{"--version", "6.0..0"}, "--version: expected A.B.C.D, got '6.0..0'"},
        {{"--trace-length", "1000001"}, "--trace-length: bad value '1000001'"},
        {{"--no-such-option"}, "unknown option '--no-such-option' (see --help)"},
    };
    for (const auto& c : bad) {
        Options ignored;
        EXPECT_FALSE(parseOptions(c.args, &ignored, &error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
    Options spaced;
    ASSERT_TRUE(parseOptions({"--port", " +7001 ", "--version", "6. 1.-2.+3", "--callback-port", "06010"}, &spaced,
                             &error))
        << error;
    EXPECT_EQ(spaced.port, 7001);
    EXPECT_EQ(*spaced.version, (std::array<int32_t, 4>{6, 1, -2, 3}));
    EXPECT_EQ(spaced.callbackPort, 6010);
    EXPECT_NE(usageText().find("--callback-on-scenario-end"), std::string::npos);
}

// Numbers as the options always read them: white space around, a sign,
// decimal digits only, within an int.
TEST(EmulatorOptions, DecimalIntegers)
{
    const struct {
        const char* text;
        bool ok;
        int value;
    } cases[] = {
        {"5", true, 5},        {" 5", true, 5},   {"5 ", true, 5},   {"\t5\n", true, 5},
        {"+5", true, 5},       {"-0", true, 0},   {"0005", true, 5}, {"-2147483648", true, -2147483647 - 1},
        {"2147483647", true, 2147483647},         {"2147483648", false, 0}, {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},       {"0x5", false, 0}, {"5x", false, 0}, {"", false, 0},
        {" ", false, 0},       {"+", false, 0},   {"-", false, 0},   {"--5", false, 0}, {"+-5", false, 0},
        {"5 5", false, 0},     {"1e3", false, 0}, {"1,000", false, 0},
    };
    for (const auto& c : cases) {
        int v = -99;
        EXPECT_EQ(parseDecimal(c.text, &v), c.ok) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(v, c.value) << '"' << c.text << '"';
        }
    }
}

TEST(EmulatorOptions, StrictIpv4Addresses)
{
    uint32_t a = 0;
    EXPECT_TRUE(parseIpv4Address("127.0.0.1", &a));
    EXPECT_EQ(a, 0x7f000001u);
    EXPECT_TRUE(parseIpv4Address("255.255.255.255", &a));
    EXPECT_EQ(a, 0xffffffffu);
    EXPECT_TRUE(parseIpv4Address("0.0.0.0", &a));
    EXPECT_EQ(a, 0u);
    for (const char* bad : {"", "1", "1.2.3", "1.2.3.4.", "1.2.3.4.5", ".1.2.3", "1..2.3", "256.0.0.1", "01.2.3.4",
                            "1.2.3.04", "0x7f.0.0.1", "127.1", " 1.2.3.4", "1.2.3.4 ", "1.2.3.-4", "localhost"})
        EXPECT_FALSE(parseIpv4Address(bad, &a)) << bad;
}

TEST(EmulatorConfig, JsonOverridesOnlyWhatItNames)
{
    Config c = defaultConfig();
    std::string error;
    ASSERT_TRUE(applyConfigJson(R"({"version":[7,1,0,2],"traceLength":10,
        "testCases":[{"name":"Only","group":"G"}],"paths":[{"rxFrequency":1e9},{},{}]})",
                                &c, &error))
        << error;
    EXPECT_EQ(c.version, (std::array<int32_t, 4>{7, 1, 0, 2}));
    EXPECT_EQ(c.traceLength, 10);
    ASSERT_EQ(c.testCases.size(), 1u);
    EXPECT_EQ(c.testCases[0].group, "G");
    ASSERT_EQ(c.paths.size(), 3u);
    EXPECT_EQ(c.paths[0].rxFrequency, 1e9);
    EXPECT_EQ(c.scenarios.size(), defaultConfig().scenarios.size());
    EXPECT_FALSE(applyConfigJson("{not json", &c, &error));
    EXPECT_FALSE(applyConfigJson(R"({"traceLength": 1000001})", &c, &error));
    EXPECT_FALSE(applyConfigJson(R"({"version": [1, 2]})", &c, &error));
    EXPECT_EQ(error, "\"version\" needs four numbers");
    EXPECT_FALSE(applyConfigJson(R"({"traceLength": -1})", &c, &error));
    EXPECT_EQ(error, "\"traceLength\" must lie between 0 and 1000000");
    EXPECT_FALSE(applyConfigJson("[1]", &c, &error));
    EXPECT_EQ(error, "the document is not an object");
    // Texts are 8-bit: Latin-1 characters become one byte each.
    c = defaultConfig();
    ASSERT_TRUE(applyConfigJson(R"({"systemParamFiles":["caf\u00e9.par"]})", &c, &error)) << error;
    ASSERT_EQ(c.systemParamFiles.size(), 1u);
    EXPECT_EQ(c.systemParamFiles[0], "caf\xe9.par");
    EXPECT_FALSE(loadConfigFile("/nonexistent/tqbse-config.json", &c, &error));
    EXPECT_EQ(error.rfind("cannot open /nonexistent/tqbse-config.json: ", 0), 0u) << error;
}

} // namespace
} // namespace tqbse::emu
