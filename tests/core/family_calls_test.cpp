// Every generated remote export, driven from the call table through the real
// exports against a fake loopback server: the request text (built here by
// hand, core/wire_text.h), the text limits, and the reading of good and bad
// replies. The shared object exports every row and nothing else.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
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

#ifndef _WIN32
// On Windows the DLL's export table is checked by the Windows stage
// (objdump) and its exports are loaded by windows/tests/load_test.cpp.
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
    for (const CallDesc* d : allCalls())
        rows.insert(d->name);
    EXPECT_EQ(functions, rows);
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

} // namespace
