// Every generated remote export, driven from the call table: the request
// text, the reading of good and bad replies, once through callRemote's seam
// and once through the real exports against a fake loopback server. The
// table itself is checked against the public header and the shared object's
// exports; the worked examples pin the wire text of a few rows by hand.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "client/call_remote.h"
#include "core/wire_text.h"
#include "listener/listener.h"
#include "protocol/call_table.h"
#include "support/fake_server.h"
#include "tqBsePluginControlDll.h"

using namespace tqbse;
using tqbse::test::doubleToken;
using tqbse::test::floatToken;
using tqbse::test::intToken;

namespace {

std::vector<const CallDesc*> remoteRows()
{
    std::vector<const CallDesc*> rows;
    for (const CallDesc* d : allCalls())
        if (d->kind == CallKind::Remote)
            rows.push_back(d);
    return rows;
}

TEST(CallTable, RowKinds)
{
    EXPECT_EQ(remoteRows().size(), 69u);
    // The six rows that are not plain remote calls.
    std::map<std::string, CallKind> others;
    for (const CallDesc* d : allCalls())
        if (d->kind != CallKind::Remote)
            others[std::string(d->shortName())] = d->kind;
    const std::map<std::string, CallKind> expected = {
        {"Initialise", CallKind::Local},           {"Shutdown", CallKind::Local},
        {"TarquelPrivateData_Set", CallKind::Local}, {"GetErrorMsgLength", CallKind::RemoteOwn},
        {"GetErrorMsg", CallKind::RemoteOwn},      {"GetServerVersion", CallKind::RemoteOwn},
    };
    EXPECT_EQ(others, expected);
}

TEST(CallTable, FindCallTakesFullAndShortNames)
{
    EXPECT_EQ(findCall("tqBsePluginControlDll_TestCase_Run"), &calls::TestCase_Run);
    EXPECT_EQ(findCall("TestCase_Run"), &calls::TestCase_Run);
    EXPECT_EQ(findCall("TestCase_run"), nullptr);
    EXPECT_EQ(findCall("tqBsePluginControlDll_"), nullptr);
    for (const CallDesc* d : allCalls())
        EXPECT_EQ(findCall(d->name), d) << d->name;
}

// Declarations in the public header: name -> parameter names in order.
std::map<std::string, std::vector<std::string>> headerDeclarations()
{
    std::ifstream in(TQBSE_PUBLIC_HEADER);
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    std::map<std::string, std::vector<std::string>> out;
    const std::regex decl(R"(int32_t\s+(tqBsePluginControlDll_\w+)\s*\(([^)]*)\)\s*;)");
    for (auto it = std::sregex_iterator(s.begin(), s.end(), decl); it != std::sregex_iterator(); ++it) {
        std::vector<std::string> names;
        std::stringstream params((*it)[2].str());
        std::string p;
        while (std::getline(params, p, ',')) {
            const std::smatch last = [&] {
                std::smatch m;
                std::regex_search(p, m, std::regex(R"((\w+)\s*$)"));
                return m;
            }();
            if (!last.empty() && last[1] != "void")
                names.push_back(last[1]);
        }
        out[(*it)[1].str()] = names;
    }
    return out;
}

TEST(CallTable, RowsMatchThePublicHeader)
{
    const auto declared = headerDeclarations();
    EXPECT_EQ(declared.size(), 75u);
    for (const CallDesc* d : allCalls()) {
        const auto it = declared.find(d->name);
        ASSERT_NE(it, declared.end()) << d->name << " is not declared in the header";
        std::vector<std::string> names;
        for (int i = 0; i < d->paramCount; ++i)
            names.push_back(d->params[i].name);
        EXPECT_EQ(names, it->second) << d->name;
    }
}

#ifndef _WIN32
// On Windows the DLL's export table is checked by the Windows stage
// (objdump) and its exports are loaded by windows/tests/load_test.cpp.
TEST(CallTable, SharedObjectExportsEveryRowAndNothingElse)
{
    // Kept loaded after dlclose: the library never frees its listener handlers,
    // which an unloaded module would leave unreachable (a leak to LSan).
    void* so = dlopen(TQBSE_SHARED_OBJECT, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(so, nullptr) << dlerror();
    for (const CallDesc* d : allCalls())
        EXPECT_NE(dlsym(so, d->name), nullptr) << d->name << " is not exported";
    dlclose(so);

    // Count the defined dynamic symbols of the library's own prefix, and
    // every other defined function symbol.
    FILE* nm = popen("nm -D --defined-only " TQBSE_SHARED_OBJECT " 2>/dev/null", "r");
    ASSERT_NE(nm, nullptr);
    int prefixed = 0;
    std::vector<std::string> otherFunctions;
    char line[512];
    while (std::fgets(line, sizeof line, nm)) {
        std::string l(line);
        if (l.find(" T tqBsePluginControlDll_") != std::string::npos)
            ++prefixed;
        else if (l.find(" T ") != std::string::npos)
            otherFunctions.push_back(l);
    }
    pclose(nm);
    EXPECT_EQ(prefixed, 75);
    EXPECT_TRUE(otherFunctions.empty()) << otherFunctions.front();
}
#endif

// ---- Arguments and replies built from a row --------------------------------

constexpr char kSentinel = '\x5a';
constexpr int32_t kIntUnset = 0x5a5a5a5a;
constexpr float kFloatUnset = -99.0f;
constexpr double kDoubleUnset = -999.0;
constexpr int kTextSize = 32;
constexpr int kCapacity = 4;
constexpr int kPoints = 3;

// Text inputs in the request: each variant is one rule of the limits.
enum class TextVariant { Fits, ExactlyLimit, Null, Longer, NegativeLimit };
const TextVariant kTextVariants[] = {TextVariant::Fits, TextVariant::ExactlyLimit, TextVariant::Null,
                                     TextVariant::Longer, TextVariant::NegativeLimit};
// Flags go out unchanged, whatever their value.
const int32_t kFlags[] = {2, 5, -1, INT32_MIN, 1};

struct CallArgs {
    std::vector<ArgValue> values;
    std::string expectedRequest;
    int32_t ints[kMaxParams];
    float floats[kMaxParams];
    double doubles[kMaxParams];
    char texts[kMaxParams][kTextSize];
    double arrays[kMaxParams][kCapacity + 1];
    std::string textIn[kMaxParams];

    CallArgs(const CallDesc& d, int variant)
    {
        for (int i = 0; i < kMaxParams; ++i) {
            ints[i] = kIntUnset;
            floats[i] = kFloatUnset;
            doubles[i] = kDoubleUnset;
            std::memset(texts[i], kSentinel, kTextSize);
            for (double& v : arrays[i])
                v = kDoubleUnset;
        }
        const TextVariant tv = kTextVariants[variant];
        expectedRequest = std::string(d.name) + "=";
        std::string sizes;
        for (int i = 0; i < d.paramCount; ++i) {
            const ParamRole r = d.params[i].role;
            const int32_t number = (variant % 2 ? -1 : 1) * (100 * (variant + 1) + 11 * i);
            switch (r) {
            case ParamRole::InInt:
                values.emplace_back(number);
                expectedRequest += intToken(number);
                break;
            case ParamRole::InBool:
                values.emplace_back(kFlags[variant]);
                expectedRequest += intToken(kFlags[variant]);
                break;
            case ParamRole::InFloat:
                values.emplace_back(1.5f + float(variant));
                expectedRequest += floatToken(1.5f + float(variant));
                break;
            case ParamRole::InDouble:
                values.emplace_back(1e9 + variant);
                expectedRequest += doubleToken(1e9 + variant);
                break;
            case ParamRole::InText: {
                textIn[i] = "text" + std::to_string(i) + "_" + std::to_string(variant);
                const char* text = tv == TextVariant::Null ? nullptr : textIn[i].c_str();
                values.emplace_back(text);
                if (tv != TextVariant::Longer && tv != TextVariant::NegativeLimit)
                    expectedRequest += test::textToken(text);
                break;
            }
            case ParamRole::TextLimit: {
                const int32_t length = int32_t(textIn[i - 1].size());
                const int32_t limit = tv == TextVariant::Fits            ? length + 10
                                      : tv == TextVariant::ExactlyLimit  ? length
                                      : tv == TextVariant::Longer        ? length - 1
                                      : tv == TextVariant::NegativeLimit ? -1
                                                                         : 0;
                values.emplace_back(limit);
                break;
            }
            case ParamRole::BufferSize:
                values.emplace_back(int32_t(kTextSize));
                sizes += intToken(kTextSize);
                break;
            case ParamRole::Capacity:
                values.emplace_back(int32_t(kCapacity));
                sizes += intToken(kCapacity);
                break;
            case ParamRole::OutInt:
            case ParamRole::OutBool:
                values.emplace_back(&ints[i]);
                break;
            case ParamRole::OutFloat:
                values.emplace_back(&floats[i]);
                break;
            case ParamRole::OutDouble:
                values.emplace_back(&doubles[i]);
                break;
            case ParamRole::OutText:
                values.emplace_back(&texts[i][0]);
                break;
            case ParamRole::OutArray:
                values.emplace_back(&arrays[i][0]);
                break;
            default:
                ADD_FAILURE() << d.name << ": unexpected role in a remote row";
                values.emplace_back(int32_t(0));
            }
        }
        expectedRequest += sizes;
    }
};

// The value that reply parameter k (0-based after the result) carries.
std::string textValue(int k) { return "Reply" + std::to_string(k); }
double pointValue(int k, int j) { return 10.0 * (k + 1) + j; }

std::string goodToken(ParamRole r, int k)
{
    switch (r) {
    case ParamRole::OutInt: return intToken(1000 + k);
    case ParamRole::OutBool: return intToken(7); // not folded to 1
    case ParamRole::OutFloat: return floatToken(1.25f + float(k));
    case ParamRole::OutDouble: return doubleToken(2.5 + k);
    case ParamRole::OutText: return "(s=" + textValue(k) + ")";
    case ParamRole::OutArray: {
        std::string t = "(da=" + std::to_string(kPoints) + "[";
        for (int j = 0; j < kPoints; ++j) {
            const double v = pointValue(k, j);
            t += (j ? "," : "") + test::hexOf(&v, 8);
        }
        return t + "])";
    }
    default: return {};
    }
}

std::string wrongTagToken(ParamRole r)
{
    return r == ParamRole::OutDouble ? floatToken(1.0f) : doubleToken(1.0);
}

// Checks every output of the row: written with the good values, or untouched.
void expectOutputs(const CallDesc& d, const CallArgs& a, bool written, const std::string& what)
{
    int k = 0;
    for (int i = 0; i < d.paramCount; ++i) {
        const ParamRole r = d.params[i].role;
        if (!isOutput(r))
            continue;
        const std::string where = what + " " + d.name + " output " + std::to_string(k);
        switch (r) {
        case ParamRole::OutInt:
            EXPECT_EQ(a.ints[i], written ? 1000 + k : kIntUnset) << where;
            break;
        case ParamRole::OutBool:
            EXPECT_EQ(a.ints[i], written ? 7 : kIntUnset) << where;
            break;
        case ParamRole::OutFloat:
            EXPECT_EQ(a.floats[i], written ? 1.25f + float(k) : kFloatUnset) << where;
            break;
        case ParamRole::OutDouble:
            EXPECT_EQ(a.doubles[i], written ? 2.5 + k : kDoubleUnset) << where;
            break;
        case ParamRole::OutText: {
            std::string expected = written ? textValue(k) + '\0' : "";
            expected.resize(kTextSize, kSentinel);
            EXPECT_EQ(std::string(a.texts[i], kTextSize), expected) << where;
            break;
        }
        case ParamRole::OutArray:
            for (int j = 0; j <= kCapacity; ++j)
                EXPECT_EQ(a.arrays[i][j], written && j < kPoints ? pointValue(k, j) : kDoubleUnset)
                    << where << " [" << j << "]";
            break;
        default:
            break;
        }
        ++k;
    }
}

// Builds reply `which` for the row: returns the reply, the expected result
// code and whether the outputs are written.
std::string replyFor(const CallDesc& d, int which, int32_t* rc, bool* written, std::string* what)
{
    const std::string name = d.name;
    std::string good;
    ParamRole first = ParamRole::LocalInt;
    int k = 0;
    for (int i = 0; i < d.paramCount; ++i) {
        const ParamRole r = d.params[i].role;
        if (!isOutput(r))
            continue;
        if (k == 0)
            first = r;
        good += goodToken(r, k++);
    }
    const bool hasOutputs = k > 0;
    switch (which) {
    case 0:
        *what = "success";
        *rc = 0;
        *written = true;
        return name + "=" + intToken(0) + good;
    case 1:
        *what = "warning with extra tokens";
        *rc = 1;
        *written = true;
        return name + "=" + intToken(1) + good + intToken(9) + "(x=junk)";
    case 2:
        *what = "server failure";
        *rc = -8;
        *written = false;
        return name + "=" + intToken(-8) + good;
    case 3:
        *what = "result alone";
        *rc = hasOutputs ? -11 : 5;
        *written = false;
        return name + "=" + intToken(5);
    case 4:
        *what = "another export's name";
        *rc = -10;
        *written = false;
        return std::string(d.name == std::string_view(calls::TestCase_Run.name) ? calls::TestCase_Count_Get.name
                                                                                  : calls::TestCase_Run.name)
            + "=" + intToken(0) + good;
    case 5:
        *what = "wrong tag on the first output";
        *rc = hasOutputs ? -5 : 0;
        *written = false;
        return name + "=" + intToken(0) + (hasOutputs ? wrongTagToken(first) : std::string());
    default:
        *what = "result not an integer";
        *rc = -12;
        *written = false;
        return name + "=" + doubleToken(0) + good;
    }
}
constexpr int kReplyCases = 7;

// How a test reaches one export: (row, arguments, reply) -> result, and the
// request that went out.
using Runner = std::function<int32_t(const CallDesc&, const ArgValue*, const std::string& reply, std::string* request)>;

void runWholeTable(const Runner& run, bool allTextVariants)
{
    for (const CallDesc* d : remoteRows()) {
        const int variants = allTextVariants ? int(std::size(kTextVariants)) : 1;
        for (int v = 0; v < variants; ++v) {
            for (int which = 0; which < kReplyCases; ++which) {
                if (v > 0 && which > 0)
                    continue; // the request variants need only one reply each
                CallArgs a(*d, v);
                int32_t rc;
                bool written;
                std::string what;
                const std::string reply = replyFor(*d, which, &rc, &written, &what);
                std::string request;
                EXPECT_EQ(run(*d, a.values.data(), reply, &request), rc) << d->name << ": " << what;
                EXPECT_EQ(request, a.expectedRequest) << d->name << " variant " << v;
                expectOutputs(*d, a, written, what + " (variant " + std::to_string(v) + ")");
            }
        }
    }
}

TEST(FamilyCalls, EveryRowThroughTheSeam)
{
    runWholeTable(
        [](const CallDesc& d, const ArgValue* args, const std::string& reply, std::string* request) {
            auto exchange = [&](const std::string& r) {
                *request = r;
                return reply;
            };
            return callRemote(d, args, exchange);
        },
        true);
}

// ---- The real exports over a loopback connection ----------------------------

#define TQ_TEST_INVOKER(kind, family, name, ...) TQ_TEST_INVOKER_##kind(name, __VA_ARGS__)
#define TQ_TEST_INVOKER_Remote(name, ...)                                                                      \
    {"tqBsePluginControlDll_" #name, [](const ::tqbse::ArgValue* args) -> int32_t {                            \
         (void)args;                                                                                          \
         return tqBsePluginControlDll_##name(TQ_MAP(TQ_PARAM_FROM_ARRAY, __VA_ARGS__));                       \
     }},
#define TQ_TEST_INVOKER_RemoteOwn(name, ...)
#define TQ_TEST_INVOKER_Local(name, ...)

struct Invoker {
    const char* name;
    int32_t (*call)(const ArgValue* args);
};
const Invoker kInvokers[] = {TQ_ALL_CALLS(TQ_TEST_INVOKER)};

const Invoker* invokerOf(const CallDesc& d)
{
    for (const Invoker& i : kInvokers)
        if (std::strcmp(i.name, d.name) == 0)
            return &i;
    return nullptr;
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
    void SetUp() override
    {
        ASSERT_NE(server_, nullptr);
        ASSERT_TRUE(server_->isListening());
    }

    // Calls the export with one scripted reply; returns the request it sent.
    static std::string exchange(const std::string& reply, const std::function<int32_t()>& call, int32_t expected)
    {
        const std::size_t before = server_->requestCount();
        server_->push(reply);
        EXPECT_EQ(call(), expected) << reply.c_str();
        EXPECT_EQ(server_->requestCount(), before + 1);
        return server_->lastRequest();
    }

    static test::FakeServer* server_;
};
test::FakeServer* FamilyExports::server_ = nullptr;

TEST_F(FamilyExports, EveryRowThroughItsExport)
{
    EXPECT_EQ(std::size(kInvokers), remoteRows().size());
    runWholeTable(
        [](const CallDesc& d, const ArgValue* args, const std::string& reply, std::string* request) {
            const Invoker* invoker = invokerOf(d);
            EXPECT_NE(invoker, nullptr) << d.name;
            if (!invoker)
                return int32_t(-1000);
            const std::size_t before = server_->requestCount();
            server_->push(reply);
            const int32_t rc = invoker->call(args);
            EXPECT_EQ(server_->requestCount(), before + 1) << d.name;
            *request = server_->lastRequest();
            return rc;
        },
        true);
}

// Hand-written request texts for a few rows, and the text limits and flags
// where one argument differs from its neighbour.
TEST_F(FamilyExports, WorkedExamples)
{
    double frequency = kDoubleUnset;
    int32_t state = kIntUnset, count = kIntUnset, length = kIntUnset, size = kIntUnset;
    float value = kFloatUnset;
    char buffer[3][300];
    std::memset(buffer, kSentinel, sizeof buffer);
    struct Case {
        std::string request; // without the prefix; the reply carries its name
        std::string reply;   // after "name="
        std::function<int32_t()> call;
        int32_t rc;
    };
    const std::vector<Case> cases = {
        {"RX_CentreFrequency_Set=(n=00000000)(d=0000000065cdcd41)", "(n=00000000)",
         [] { return tqBsePluginControlDll_RX_CentreFrequency_Set(0, 1e9); }, 0},
        {"RX_CentreFrequency_Get=(n=02000000)", "(n=00000000)(d=000000000000f03f)",
         [&] { return tqBsePluginControlDll_RX_CentreFrequency_Get(2, &frequency); }, 0},
        {"LoggingState_Get=", "(n=00000000)(n=01000000)",
         [&] { return tqBsePluginControlDll_LoggingState_Get(&state); }, 0},
        {"TestCase_Name_Get=(n=03000000)(n=40000000)", "(n=00000000)(s=Attach)",
         [&] { return tqBsePluginControlDll_TestCase_Name_Get(3, buffer[0], 64); }, 0},
        {"TestCase_Name_Get=(n=03000000)(n=06000000)", "(n=00000000)(s=Attach)",
         [&] { return tqBsePluginControlDll_TestCase_Name_Get(3, buffer[1], 6); }, -13},
        {"Scenario_Name_Get=(n=02000000)(n=00010000)", "(n=00000000)(s=)",
         [&] { return tqBsePluginControlDll_Scenario_Name_Get(2, buffer[2], 256); }, 0},
        {"SystemParamFile_Name_Get=(n=00000000)(n=40000000)", "(n=00000000)(s=x)",
         [&] { return tqBsePluginControlDll_SystemParamFile_Name_Get(0, buffer[0] + 100, 64); }, 0},
        {"ProtocolMessageXml_Count_Get=", "(n=00000000)(n=03000000)",
         [&] { return tqBsePluginControlDll_ProtocolMessageXml_Count_Get(&count); }, 0},
        {"LTE_Results_Evm_Rms_Get=(n=0c000000)", "(n=00000000)(f=0000c03f)",
         [&] { return tqBsePluginControlDll_LTE_Results_Evm_Rms_Get(12, &value); }, 0},
        {"DebugFilters_NameLength_Get=(n=01000000)", "(n=00000000)(n=05000000)",
         [&] { return tqBsePluginControlDll_DebugFilters_NameLength_Get(1, &length); }, 0},
        {"DebugFilters_AcceptChanges=", "(n=01000000)(n=05000000)",
         [] { return tqBsePluginControlDll_DebugFilters_AcceptChanges(); }, 1},
        {"LoggingState_Set=(n=00000080)", "(n=00000000)",
         [] { return tqBsePluginControlDll_LoggingState_Set(INT32_MIN); }, 0},
        {"Scenario_Upload=(s=a)", "(n=00000000)",
         [] { return tqBsePluginControlDll_Scenario_Upload("a", 1, "content", 6); }, 0},
        {"Scenario_Upload=(s=c)", "(n=00000000)",
         [] { return tqBsePluginControlDll_Scenario_Upload("name", 3, "c", 1); }, 0},
        {"Scenario_Upload=(s=n)(s=NULL)", "(n=00000000)",
         [] { return tqBsePluginControlDll_Scenario_Upload("n", 5, nullptr, 5); }, 0},
        {"Scenario_Upload=(s=)", "(n=00000000)",
         [] { return tqBsePluginControlDll_Scenario_Upload("", -1, "", 0); }, 0},
        {"DebugFilters_State_Set=(n=01000000)", "(n=00000000)",
         [] { return tqBsePluginControlDll_DebugFilters_State_Set("toolong", 3, 1); }, 0},
        // The server answers a request short of a token with -9; it comes back as is.
        {"ProtocolMessageXml_DownloadSize_Get=", "(n=f7ffffff)",
         [&] { return tqBsePluginControlDll_ProtocolMessageXml_DownloadSize_Get("abcd", 3, &size); }, -9},
    };
    for (const Case& c : cases) {
        const std::string request = "tqBsePluginControlDll_" + c.request;
        EXPECT_EQ(exchange(test::FakeServer::nameOf(request) + "=" + c.reply, c.call, c.rc), request);
    }
    EXPECT_EQ(frequency, 1.0);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(std::string(buffer[0], 8), std::string("Attach\0", 7) + kSentinel);
    EXPECT_EQ(std::string(buffer[1], 8), std::string(8, kSentinel));
    EXPECT_EQ(std::string(buffer[2], 2), std::string("\0", 1) + kSentinel);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(value, 1.5f);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(size, kIntUnset);
    exchange("tqBsePluginControlDll_DebugFilters_RejectChanges=(n=00000000)",
             [] { return tqBsePluginControlDll_DebugFilters_AcceptChanges(); }, -10);
}

} // namespace
