// The emulator's request handling without sockets: every remote row answered
// in a shape the library's own reply reader accepts, the request checks, the
// framing, the model's rules, the reply faults and the option parser.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "api/call_table.h"
#include "core/call_remote.h"
#include "core/codec.h"
#include "emulator/faults.h"
#include "emulator/model.h"
#include "emulator/options.h"
#include "emulator/request_handler.h"
#include "emulator/trace_format.h"

namespace tqbse::emu {
namespace {

const std::string kPrefix = "tqBsePluginControlDll_";

int32_t resultOf(const QByteArray& reply)
{
    const codec::SplitMessage m = codec::splitMessage(reply);
    int32_t code = 99;
    if (m.params.empty() || codec::decodeInt(m.params[0], &code) != codec::kOk)
        ADD_FAILURE() << "no result code in " << reply.left(200).toStdString();
    return code;
}

int32_t call(Model& model, const std::string& request, const CallContext& context = {})
{
    return resultOf(handleRequest(model, QByteArray::fromStdString(request), context));
}

std::string tokenN(int32_t v) { return codec::encodeInt(v).toStdString(); }

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
        const QByteArray reply = handleRequest(model, QByteArray::fromStdString(request));
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
        const QByteArray reply = handleRequest(model, buildRequest(*row, a.args.data()));
        codec::SplitMessage message;
        int32_t result = 99;
        ASSERT_EQ(checkReply(*row, reply, &message, &result), 0) << reply.left(200).toStdString();
        EXPECT_EQ(result, 0) << reply.left(200).toStdString();
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
        const QByteArray reply = handleRequest(model, QByteArray::fromStdString(c.request));
        const codec::SplitMessage m = codec::splitMessage(reply);
        EXPECT_EQ(m.name, codec::splitMessage(QByteArray::fromStdString(c.request)).name);
        ASSERT_EQ(m.params.size(), 1u) << reply.toStdString();
        EXPECT_EQ(resultOf(reply), c.code);
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
        EXPECT_EQ(isRequestComplete(QByteArray::fromStdString(c.buffer)), c.complete);
        // Fed byte by byte, the scanner comes to the same verdict.
        RequestScanner scanner;
        QByteArray grown;
        for (char ch : c.buffer) {
            grown.append(ch);
            scanner.feed(grown);
        }
        EXPECT_EQ(scanner.complete(), c.complete);
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
        const QByteArray reply = handleRequest(model, QByteArray::fromStdString(kPrefix + "Scenario_IsRunning_Get="), c);
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
    const QByteArray brokenReply = applyReplyFaults(badHex, "X=(n=00000000)(s=abc)");
    const codec::SplitMessage broken = codec::splitMessage(brokenReply);
    ASSERT_EQ(broken.params.size(), 2u);
    int32_t code = 0;
    EXPECT_EQ(codec::decodeInt(broken.params[0], &code), codec::kContentsMismatch);
    EXPECT_EQ(broken.params[1], "(s=abc)");

    FaultOptions only;
    only.call = "Scenario_Execute";
    EXPECT_TRUE(only.appliesTo(QByteArray::fromStdString(kPrefix + "Scenario_Execute")));
    EXPECT_FALSE(only.appliesTo(QByteArray::fromStdString(kPrefix + "Scenario_Execute_Get")));
}

TEST(EmulatorFaults, PiecesCoverTheReplyAndOnlyTheLastEndsTheReply)
{
    const QByteArray reply = "N=(n=00000000)(s=a))(b)(d=0000000000000000)";
    for (int size : {1, 2, 3, 5, 14, 100}) {
        SCOPED_TRACE(size);
        const std::vector<qsizetype> ends = pieceEnds(reply, size);
        ASSERT_FALSE(ends.empty());
        EXPECT_EQ(ends.back(), reply.size());
        for (std::size_t i = 0; i + 1 < ends.size(); ++i) {
            EXPECT_LT(ends[i], ends[i + 1]);
            EXPECT_NE(reply[ends[i] - 1], ')');
        }
    }
    const qsizetype cut = midReplyCut(reply);
    EXPECT_GT(cut, 0);
    EXPECT_LT(cut, reply.size());
    EXPECT_NE(reply[cut - 1], ')');
}

TEST(EmulatorTrace, NumbersAreDecoded)
{
    QByteArray m = "X=";
    codec::appendInt(m, -7);
    codec::appendFloat(m, 2.5f);
    codec::appendDouble(m, 1e9);
    m += "(s=hello)";
    const double values[] = {1.5, 2.5, 3.5, 4.5};
    codec::appendDoubleArray(m, values, 4);
    EXPECT_EQ(describeMessage(m), "X(n=-7, f=2.5, d=1000000000, s[5]\"hello\", da[4]{1.5, 2.5, 3.5, ...})");
}

TEST(EmulatorOptions, ParsesAndRejects)
{
    Options o;
    QString error;
    ASSERT_TRUE(parseOptions({"--bind", "127.0.0.10", "--port", "7000", "--version", "5.9.9.9", "--trace",
                              "--fault-call", "TestCase_Run", "--close-after", "2", "--piece-size", "3"},
                             &o, &error))
        << error.toStdString();
    EXPECT_EQ(o.bind, "127.0.0.10");
    EXPECT_EQ(o.port, 7000);
    EXPECT_EQ(*o.version, (std::array<int32_t, 4>{5, 9, 9, 9}));
    EXPECT_TRUE(o.trace);
    EXPECT_EQ(o.faults.call, "TestCase_Run");
    EXPECT_EQ(o.faults.closeAfter, 2);
    EXPECT_EQ(o.faults.pieceSize, 3);
    for (const QStringList& bad : {QStringList{"--port", "0"}, QStringList{"--port"}, QStringList{"--bind", "host"},
                                   QStringList{"--version", "6.0.0"}, QStringList{"--trace-length", "1000001"},
                                   QStringList{"--no-such-option"}}) {
        Options ignored;
        EXPECT_FALSE(parseOptions(bad, &ignored, &error)) << bad.join(' ').toStdString();
    }
}

TEST(EmulatorConfig, JsonOverridesOnlyWhatItNames)
{
    Config c = defaultConfig();
    QString error;
    ASSERT_TRUE(applyConfigJson(R"({"version":[7,1,0,2],"traceLength":10,
        "testCases":[{"name":"Only","group":"G"}],"paths":[{"rxFrequency":1e9},{},{}]})",
                                &c, &error))
        << error.toStdString();
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
}

} // namespace
} // namespace tqbse::emu
