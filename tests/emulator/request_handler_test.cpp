// The emulator's request handling without sockets: every remote row answered
// in a shape the library's own reply reader accepts, the request checks, the
// lifetime of results handles, staged filter changes and the request framing.
// The model's values and lists are seen through the emulator process by the
// example (cli_process_test) and python/tests; its faults, callback and
// options by process_test, the spelling of its version options here.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "client/call_remote.h"
#include "support/guarded_call.h"
#include "emulator/model.h"
#include "emulator/options.h"
#include "emulator/request_handler.h"
#include "emulator/server.h"
#include "protocol/call_table.h"
#include "protocol/codec.h"
#include "protocol/request_framer.h"

namespace tqbse::emu {
namespace {

const std::string kPrefix = "tqBsePluginControlDll_";

std::string tokenN(int32_t v) { return codec::encodeInt(v); }

// Every remote row, called through the library's own request builder and
// reply reader: the emulator serves it, with a success code and outputs
// that decode into the row's out-parameters.
TEST(EmulatorRequests, EveryRemoteRowSucceedsThroughTheLibraryReader)
{
    EXPECT_TRUE(callsWithoutHandler().empty());
    int served = 0;
    for (const CallDesc* row : allCalls()) {
        if (row->kind == CallKind::Local)
            continue;
        SCOPED_TRACE(row->name);
        // A model of its own: rows met earlier (the protocol reset, the
        // switches) cannot end the handle, which is 1, the first one taken.
        Model model(defaultConfig());
        handleRequest(model, kPrefix + "Protocol_MeasurementEnabled_Set=" + tokenN(0) + tokenN(-1));
        handleRequest(model, kPrefix + "LTE_MeasurementEnabled_Set=" + tokenN(0) + tokenN(0) + tokenN(-1));
        handleRequest(model, row->family == Family::LteResults ? kPrefix + "LTE_Results_GetHandle=" + tokenN(0)
                                                               : kPrefix + "Protocol_Results_GetHandle=");
        // Names the emulator knows, flags on, the handle, and index, trace
        // and item 0.
        const hardening::GuardedCall frame(*row, 1 << 16, 1 << 16, [](const CallDesc& d, const ParamDesc& p) -> ArgValue {
            const std::string_view name = p.name;
            // Asked for value inputs only, whose tags these are.
            switch (traits(p.role).tag) {
            case WireTag::String:
                return name == "content"                  ? "<new/>"
                       : d.family == Family::Scenarios    ? "Idle_Camping"
                       : d.family == Family::DebugFilters ? "MAC"
                                                          : "attach_accept.xml";
            case WireTag::Float: return -20.5f;
            case WireTag::Double: return 2.0e9;
            case WireTag::Int:
            case WireTag::DoubleArray:
            case WireTag::None: break;
            }
            return int32_t(p.role == ParamRole::InBool ? -1 : name == "handle" ? 1 : 0);
        });
        const std::string reply = handleRequest(model, buildRequest(*row, frame.args()));
        codec::SplitMessage message;
        int32_t result = 99;
        ASSERT_EQ(checkReply(*row, reply, &message, &result), 0) << reply.substr(0, 200);
        EXPECT_EQ(result, 0) << reply.substr(0, 200);
        EXPECT_EQ(writeOutputs(*row, frame.args(), message), 0);
        const std::size_t outputs = row->shortName() == "GetServerVersion" ? 4 : row->outputCount;
        EXPECT_EQ(message.params.size(), 1 + outputs);
        ++served;
    }
    EXPECT_EQ(served, 72);
}

// Every refusal is the result code and one text token saying why, in a
// reply the library reads as that code alone.
TEST(EmulatorRequests, MalformedRequestsGetWellFormedErrorRepliesWithTheirReason)
{
    const struct {
        std::string request;
        int32_t code;
        std::string reason;
    } cases[] = {
        {kPrefix + "NoSuchCall=" + tokenN(1), -8, "unknown call"},
        {"RX_CentreFrequency_Get=" + tokenN(0), -8, "the name lacks the tqBsePluginControlDll_ prefix"},
        {kPrefix + "Initialise=", -8, "Initialise is the library's own, never sent"},
        {kPrefix + "RX_CentreFrequency_Get", -8, "no \"=\" after the name"},
        {kPrefix + "RX_CentreFrequency_Get=", -9, "0 input tokens where the call takes 1"},
        {kPrefix + "LoggingState_Get=" + tokenN(0), -9, "1 input tokens where the call takes 0"},
        {kPrefix + "RX_CentreFrequency_Get=(f=00000000)", -20,
         "input 1 index is tagged f= where n= is due"},
        {kPrefix + "TestCase_Run=(n=0z000000)", -6, "input 1 index does not decode: n=0z000000"},
        {kPrefix + "TestCase_Run=" + tokenN(5), kInternalObjectError, "test case index 5 is outside 0..4"},
    };
    Model model(defaultConfig());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        const Answer answer = answerRequest(model, c.request, CallContext{});
        EXPECT_EQ(answer.result, c.code);
        EXPECT_EQ(answer.reason, c.reason);
        const codec::SplitMessage m = codec::splitMessage(answer.reply);
        EXPECT_EQ(m.name, messageName(c.request));
        EXPECT_EQ(answer.reply, codec::resultOnlyReply(m.name, c.code) + "(s=" + c.reason + ")");
        const CallDesc* row = findRemoteCall(m.name);
        if (!row)
            continue;
        codec::SplitMessage split;
        int32_t result = 0;
        EXPECT_EQ(checkReply(*row, answer.reply, &split, &result), 0);
        EXPECT_EQ(result, c.code);
    }
}

// The model's refusals name what it does not know, in one model whose state
// the steps build up; names from the request are quoted, and a reason's
// parentheses become brackets so that its token always balances.
TEST(EmulatorRequests, TheModelSaysWhyItRefuses)
{
    const struct {
        std::string call, args;
        int32_t code;
        std::string reason;
    } steps[] = {
        {"Protocol_Results_GetTraceLength", tokenN(7) + tokenN(0), -18, "unknown results handle 7"},
        {"Results_DeleteHandle", tokenN(7), -18, "unknown results handle 7"},
        {"Scenario_Execute", "(s=x)", -18, "scenario \"x\" not uploaded"},
        {"Scenario_Execute", "(s=NULL)", -18, "scenario NULL not uploaded"},
        {"Scenario_Download", "(s=a[b]c)" + tokenN(99), -18, "scenario \"a[b]c\" not uploaded"},
        {"ProtocolMessageXml_DownloadSize_Get", "(s=no.xml)", -18, "protocol message XML file \"no.xml\" not uploaded"},
        {"LTE_Results_GetHandle", tokenN(0), -18, "LTE measurement not enabled for index 0"},
        {"Protocol_Results_GetHandle", "", -18, "protocol measurement not enabled for any RF path index"},
        {"RX_InputLevel_Get", tokenN(2), -18, "RF path index 2 is outside 0..1"},
        {"LTE_MeasurementEnabled_Set", tokenN(0) + tokenN(8) + tokenN(1), -18, "LTE measurement index 8 is outside 0..7"},
        {"DebugFilters_State_Get", "(s=XYZ)", -18, "unknown debug filter \"XYZ\""},
        {"TestCase_Name_Get", tokenN(0) + tokenN(6), -13, "bufferSize 6 is below the text's 6 bytes + 1"},
        {"Protocol_MeasurementEnabled_Set", tokenN(0) + tokenN(1), 0, ""},
        {"Protocol_Results_GetHandle", "", 0, ""},
        {"Protocol_Results_GetTrace", tokenN(1) + tokenN(2) + tokenN(4096), -18, "trace index 2 is outside 0..1"},
        {"Protocol_Results_GetTrace", tokenN(1) + tokenN(0) + tokenN(10), -13, "capacity 10 is below the trace length 4096"},
        {"LTE_Results_Cell_Get", tokenN(1), -18, "results handle 1 holds protocol results, not LTE"},
    };
    Model model(defaultConfig());
    for (const auto& s : steps) {
        SCOPED_TRACE(s.call + "=" + s.args);
        const Answer answer = answerRequest(model, kPrefix + s.call + "=" + s.args, CallContext{});
        EXPECT_EQ(answer.name, s.call);
        EXPECT_EQ(answer.result, s.code);
        EXPECT_EQ(answer.reason, s.reason);
        if (s.code < 0) {
            EXPECT_EQ(answer.reply, kPrefix + s.call + "=" + tokenN(s.code) + "(s=" + s.reason + ")");
        }
    }
    Answer odd;
    odd.name = "Scenario_Execute";
    odd.result = -18;
    odd.reason = std::string("scenario \"(x\n\" not uploaded") + std::string(300, 'y');
    EXPECT_EQ(reasonToken(odd.reason), "(s=scenario \"[x?\" not uploaded" + std::string(200 - 27, 'y') + ")");
    EXPECT_TRUE(refusalLine(odd).starts_with("tqbse-emulator: Scenario_Execute -> -18: scenario \"[x?\" not uploadedyyy"));
}

// One model, requests in order, each with the whole reply it must get
// (handles count up from 1).
TEST(EmulatorRequests, NameLengthsHandleLifetimesAndStagedFilterChangesKeepTheirRules)
{
    const struct {
        std::string call, args, reply;
    } steps[] = {
        {"TestCase_NameLength_Get", tokenN(2), tokenN(0) + tokenN(14)}, // "Handover_Intra", no terminator
        {"TestCase_GroupName_Get", tokenN(2) + tokenN(9), tokenN(0) + "(s=Mobility)"},
        {"Protocol_Results_GetHandle", "", tokenN(kInternalObjectError) + "(s=protocol measurement not enabled for any RF path index)"}, // nothing measured yet
        {"Protocol_MeasurementEnabled_Set", tokenN(0) + tokenN(-1), tokenN(0)},
        {"Protocol_Results_GetHandle", "", tokenN(0) + tokenN(1)},
        {"Results_DeleteHandle", tokenN(1), tokenN(0)},
        {"Results_DeleteHandle", tokenN(1), tokenN(kInternalObjectError) + "(s=unknown results handle 1)"},
        {"Protocol_Results_GetHandle", "", tokenN(0) + tokenN(2)},
        {"FullProtocolReset", "", tokenN(0)},
        {"Protocol_Results_GetTraceLength", tokenN(2) + tokenN(0), tokenN(kInternalObjectError) + "(s=unknown results handle 2)"}, // the reset ended it
        {"Protocol_Results_Available_Get", "", tokenN(0) + tokenN(0)},                     // and measuring
        {"DebugFilters_State_Set", "(s=RRC)" + tokenN(5), tokenN(0)},
        {"DebugFilters_State_Get", "(s=RRC)", tokenN(0) + tokenN(0)}, // staged, not applied
        {"DebugFilters_AcceptChanges", "", tokenN(0)},
        {"DebugFilters_State_Get", "(s=RRC)", tokenN(0) + tokenN(5)},
        {"DebugFilters_State_Set", "(s=MAC)" + tokenN(0), tokenN(0)},
        {"DebugFilters_RejectChanges", "", tokenN(0)},
        {"DebugFilters_AcceptChanges", "", tokenN(0)},
        {"DebugFilters_State_Get", "(s=MAC)", tokenN(0) + tokenN(1)}, // the rejected change is gone
    };
    Model model(defaultConfig());
    for (const auto& s : steps)
        EXPECT_EQ(handleRequest(model, kPrefix + s.call + "=" + s.args), kPrefix + s.call + "=" + s.reply);
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

// --version alone prints the program's own version; with a value it is
// the old spelling of --server-version and says so once.
TEST(EmulatorOptions, VersionIsTheProgramsOwnAndServerVersionSetsTheReportedOne)
{
    const std::array<int32_t, 4> seven{7, 0, 0, 1};
    Options o;
    std::string error;
    ASSERT_TRUE(parseOptions({"--version", "--port", "6100"}, &o, &error)) << error;
    EXPECT_TRUE(o.showVersion);
    EXPECT_EQ(o.port, 6100);
    EXPECT_FALSE(o.version);

    Options renamed;
    ASSERT_TRUE(parseOptions({"--server-version", "7.0.0.1"}, &renamed, &error)) << error;
    EXPECT_EQ(renamed.version, seven);
    EXPECT_FALSE(renamed.showVersion);
    EXPECT_TRUE(renamed.notices.empty());

    Options old;
    ASSERT_TRUE(parseOptions({"--version", "7.0.0.1", "--trace"}, &old, &error)) << error;
    EXPECT_EQ(old.version, seven);
    EXPECT_FALSE(old.showVersion);
    ASSERT_EQ(old.notices.size(), 1u);
    EXPECT_NE(old.notices[0].find("--server-version"), std::string::npos);

    Options bad;
    EXPECT_FALSE(parseOptions({"--server-version", "7.0.1"}, &bad, &error));
    EXPECT_FALSE(parseOptions({"--server-version"}, &bad, &error));
}

// --max-request-memory: bytes with an optional binary suffix, 2 GiB by
// default, at least 1 MiB; nothing that could overflow is taken.
TEST(EmulatorOptions, RequestMemoryIsABoundedByteCount)
{
    Options o;
    std::string error;
    EXPECT_EQ(o.requestMemory, std::size_t(2) << 30);
    const std::pair<const char*, std::size_t> good[] = {
        {"1M", std::size_t(1) << 20}, {"3G", std::size_t(3) << 30}, {"4096K", std::size_t(4) << 20},
        {"1048577", 1048577}};
    for (const auto& [text, bytes] : good) {
        ASSERT_TRUE(parseOptions({"--max-request-memory", text}, &o, &error)) << text << ": " << error;
        EXPECT_EQ(o.requestMemory, bytes) << text;
    }
    for (const char* text : {"1048575", "1023K", "", "G", "1.5G", "-1G", "2g", "2 G", "18446744073709551616",
                             "17179869184G", "99999999999999999999"}) {
        Options bad;
        EXPECT_FALSE(parseOptions({"--max-request-memory", text}, &bad, &error)) << text;
        EXPECT_EQ(bad.requestMemory, std::size_t(2) << 30) << text;
    }
}

} // namespace
} // namespace tqbse::emu
