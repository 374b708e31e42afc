// The emulator's request handling without sockets: every remote row answered
// in a shape the library's own reply reader accepts, the request checks and
// the request framing. The model, the faults, the trace and the options are
// seen through the emulator process (flows_test, process_test).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/call_remote.h"
#include "emulator/model.h"
#include "emulator/request_handler.h"
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
        {kPrefix + "RX_CentreFrequency_Get", -8},               // no "="
        {kPrefix + "RX_CentreFrequency_Get=", -9},
        {kPrefix + "LoggingState_Get=" + tokenN(0), -9},
        {kPrefix + "Scenario_Upload=(s=only-the-content)", -9}, // a too-long name left out
        {kPrefix + "RX_CentreFrequency_Get=(f=00000000)", -20},
        {kPrefix + "RX_InputLevel_Set=" + tokenN(0) + "(d=0000000000000000)", -20},
        {kPrefix + "TestCase_Run=(n=0z000000)", -6},
        {kPrefix + "TestCase_Run=" + tokenN(99), kUnknownObject},
    };
    Model model(defaultConfig());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        const std::string reply = handleRequest(model, c.request);
        const codec::SplitMessage m = codec::splitMessage(reply);
        EXPECT_EQ(m.name, messageName(c.request));
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
        {kPrefix + "RX_CentreFrequency_Get=", false}, // its index has not arrived yet
        {set + tokenN(0), false},
        {set + tokenN(0) + "(d=00000000", false},
        {set + tokenN(0) + "(d=0000000065cdcd41)", true},
        {upload + "(s=a)(s=x(y)z)", true},
        {upload + "(s=a)(s=x(y)", false},
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

} // namespace
} // namespace tqbse::emu
