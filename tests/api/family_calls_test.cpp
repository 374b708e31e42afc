// Every generated remote export, driven from the call table through the real
// exports against a fake loopback server on 127.0.0.4: the request text
// (built here token by token, support/wire_text.h), a text input longer than its
// limit left out, and seven replies per row read into sentinel-filled
// outputs with guard bytes (support/guarded_call.h). The shared object
// exports every row, the session twins and the session API, and nothing else.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "support/wire_text.h"
#include "support/guarded_call.h"
#include "support/replies.h"
#include "listener/listener.h"
#include "protocol/call_table.h"
#include "support/fake_server.h"
#include "tqBsePluginControlDll.h"

using namespace tqbse;

namespace {

#ifndef _WIN32
// On Windows the DLL's export table is checked by the Windows stage
// (objdump).
TEST(CallTable, SharedObjectExportsEveryRowAndNothingElse)
{
    FILE* nm = popen("nm -D --defined-only " TQBSE_SHARED_OBJECT " 2>/dev/null", "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> functions, rows;
    char line[512];
    while (std::fgets(line, sizeof line, nm)) {
        const std::string l(line);
        if (const std::size_t at = l.find(" T "); at != std::string::npos)
            functions.insert(l.substr(at + 3, l.find_first_of("\r\n") - at - 3));
    }
    pclose(nm);
    for (const CallDesc* d : allCalls()) {
        rows.insert(d->name);
        if (hasSessionTwin(d->kind))
            rows.insert(std::string(kSessionPrefix) + std::string(d->shortName()));
    }
    for (const std::string_view own : kSessionOwnFunctionNames)
        rows.insert(std::string(own));
    EXPECT_EQ(functions, rows);
}
#endif

// The exports of the plain remote rows, called with an argument array.
#define TQ_TEST_INVOKER(kind, family, name, ...) TQ_TEST_INVOKER_##kind(name, __VA_ARGS__)
#define TQ_TEST_INVOKER_Remote(name, ...)                                                                      \
    {&::tqbse::calls::name, [](const ::tqbse::ArgValue* args) -> int32_t {                                     \
         (void)args;                                                                                          \
         return tqBsePluginControlDll_##name(TQ_MAP(TQ_PARAM_FROM_ARRAY, __VA_ARGS__));                       \
     }},
#define TQ_TEST_INVOKER_RemoteOwn(name, ...)
#define TQ_TEST_INVOKER_Local(name, ...)

struct Invoker {
    const CallDesc* row;
    int32_t (*call)(const ArgValue* args);
};
const Invoker kInvokers[] = {TQ_ALL_CALLS(TQ_TEST_INVOKER)};

constexpr int32_t kBound = 8; // every buffer size and capacity

// The request a GuardedCall's arguments make: inputs in order (a text only
// when it fits its limit), then the buffer sizes and capacities.
std::string expectedRequest(const CallDesc& d, int32_t textLimit)
{
    std::string request = std::string(d.name) + "=", sizes;
    for (int i = 0; i < d.paramCount; ++i) {
        const RoleTraits& role = traits(d.params[i].role);
        switch (role.roleClass) {
        case RoleClass::Input:
            if (role.tag == WireTag::Float)
                request += test::floatToken(1.5f);
            else if (role.tag == WireTag::Double)
                request += test::doubleToken(2.5);
            else if (role.tag == WireTag::String)
                request += textLimit >= 4 ? "(s=name)" : "";
            else
                request += test::intToken(3);
            break;
        case RoleClass::SentSize: sizes += test::intToken(kBound); break;
        case RoleClass::Limit:
        case RoleClass::Output:
        case RoleClass::Local:
        case RoleClass::LocalSize: break; // not sent
        }
    }
    return request + sizes;
}

struct ReplyCase {
    const char* what;
    std::string reply;
    int32_t rc;
    bool written;
};

// Seven replies for a row, each with the code it must give and whether the
// outputs are then written.
std::vector<ReplyCase> replyCases(const CallDesc& d)
{
    const std::string name = d.name;
    const std::string good = hardening::wellFormedReply(d).text.substr(name.size() + 1 + 12); // the outputs
    const bool outputs = d.outputCount > 0;
    const std::string other = &d == &calls::TestCase_Run ? calls::TestCase_Count_Get.name : calls::TestCase_Run.name;
    const std::string wrongTag = !outputs ? "" : d.outputs[0].role == ParamRole::OutDouble ? test::floatToken(1) : test::doubleToken(1);
    return {
        {"success", name + "=" + test::intToken(0) + good, 0, true},
        {"warning with extra tokens", name + "=" + test::intToken(1) + good + test::intToken(9) + "(x=junk)", 1, true},
        {"server failure", name + "=" + test::intToken(-8) + good, -8, false},
        {"result alone", name + "=" + test::intToken(5), outputs ? -11 : 5, false},
        {"another export's name", other + "=" + test::intToken(0) + good, -10, false},
        {"wrong tag on the first output", name + "=" + test::intToken(0) + wrongTag, outputs ? -5 : 0, false},
        {"result not an integer", name + "=" + test::doubleToken(0) + good, -12, false},
    };
}

class FamilyExports : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server_ = new test::FakeServer("127.0.0.4");
        ASSERT_TRUE(server_->isListening()) << "cannot listen on 127.0.0.4";
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 4), 0);
    }
    static void TearDownTestSuite()
    {
        tqBsePluginControlDll_Shutdown();
        listener::stopListener();
        delete server_;
        server_ = nullptr;
    }
    // Calls the export with `reply` scripted; checks that it sent one request.
    static int32_t call(const Invoker& export_, const hardening::GuardedCall& frame, const std::string& reply)
    {
        const std::size_t before = server_->requests().size();
        server_->push(reply);
        const int32_t rc = export_.call(frame.args());
        EXPECT_EQ(server_->requests().size(), before + 1) << export_.row->name;
        return rc;
    }
    static test::FakeServer* server_;
};
test::FakeServer* FamilyExports::server_ = nullptr;

TEST_F(FamilyExports, EveryRowSendsItsRequestAndReadsEachReplyCase)
{
    ASSERT_NE(server_, nullptr);
    int rows = 0;
    for (const Invoker& e : kInvokers) {
        const CallDesc& d = *e.row;
        ++rows;
        const hardening::ExpectedReply good = hardening::wellFormedReply(d);
        for (const ReplyCase& c : replyCases(d)) {
            SCOPED_TRACE(std::string(d.name) + ": " + c.what);
            hardening::GuardedCall frame(d, kBound);
            EXPECT_EQ(call(e, frame, c.reply), c.rc);
            EXPECT_EQ(server_->lastRequest(), expectedRequest(d, 64));
            for (int k = 0; k < d.outputCount; ++k) {
                if (c.written)
                    EXPECT_EQ(frame.bytes(k).substr(0, good.outputs[k].size()), good.outputs[k]) << "output " << k;
                else
                    EXPECT_TRUE(frame.untouched(k)) << "output " << k;
            }
            EXPECT_TRUE(frame.guardsIntact());
        }
        // A text longer than its limit is left out of the request.
        if (expectedRequest(d, 3) != expectedRequest(d, 64)) {
            hardening::GuardedCall shortLimit(d, kBound, 3);
            call(e, shortLimit, d.name + std::string("=(n=f7ffffff)"));
            EXPECT_EQ(server_->lastRequest(), expectedRequest(d, 3)) << d.name;
        }
    }
    int remote = 0;
    for (const CallDesc* d : allCalls())
        remote += d->kind == CallKind::Remote;
    EXPECT_EQ(rows, remote);
}

// A NULL output pointer, or a NULL buffer or array with a positive size, is
// refused with -1 before anything is sent, for every row with outputs and
// the hand-written exports; a NULL buffer of size 0 is nothing to refuse.
TEST_F(FamilyExports, NullOutputsAreRefusedBeforeAnythingIsSent)
{
    ASSERT_NE(server_, nullptr);
    const std::size_t before = server_->requests().size();
    for (const Invoker& e : kInvokers) {
        for (int k = 0; k < e.row->outputCount; ++k) {
            hardening::GuardedCall frame(*e.row, kBound);
            frame.nullOutput(k);
            EXPECT_EQ(e.call(frame.args()), TQBSE_UNKNOWN_ERROR) << e.row->name << " output " << k;
        }
    }
    EXPECT_EQ(tqBsePluginControlDll_GetServerVersion(nullptr), TQBSE_UNKNOWN_ERROR);
    EXPECT_EQ(tqBsePluginControlDll_GetErrorMsgLength(0, nullptr), TQBSE_UNKNOWN_ERROR);
    EXPECT_EQ(tqBsePluginControlDll_GetErrorMsgLength(-15, nullptr), TQBSE_UNKNOWN_ERROR); // asked of the server
    EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(0, nullptr, 10), TQBSE_UNKNOWN_ERROR);
    EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(-15, nullptr, 10), TQBSE_UNKNOWN_ERROR);
    EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(0, nullptr, 0), TQBSE_BUFFER_TOO_SMALL);
    EXPECT_EQ(server_->requests().size(), before);

    server_->push(std::string(calls::Scenario_Name_Get.name) + "=(n=00000000)(s=)");
    EXPECT_EQ(tqBsePluginControlDll_Scenario_Name_Get(0, nullptr, 0), TQBSE_BUFFER_TOO_SMALL);
    server_->push(std::string(calls::LTE_Results_GetTrace.name) + "=(n=00000000)(da=0[])(da=0[])");
    EXPECT_EQ(tqBsePluginControlDll_LTE_Results_GetTrace(1, 0, nullptr, nullptr, 0), TQBSE_SUCCESS);
    EXPECT_EQ(server_->requests().size(), before + 2);
}

} // namespace
