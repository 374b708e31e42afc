// The binding of C arguments to values: the text-limit rule on inputs, the
// NULL-output rule, and storing into caller memory with its -13 bounds. The
// whole call path over these is in call_remote_test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/c_arguments.h"
#include "protocol/call_table.h"
#include "support/encoded.h"

using namespace tqbse;

namespace {

using test::encoded;

TEST(CArguments, ATextInputLongerThanItsLimitSendsNothing)
{
    const CallDesc& d = calls::Scenario_Execute; // name, its limit
    struct Case {
        const char* text;
        int32_t limit;
        std::string token; // empty: the input sends nothing
    };
    const Case cases[] = {
        {"abcdefghij", 10, "(s=abcdefghij)"},
        {"abcdefghij", 9, ""},
        {"", 0, "(s=)"},
        {"", -1, ""},                // signed: a negative limit keeps even "" out
        {nullptr, -5, "(s=NULL)"},   // a null text ignores the limit
    };
    for (const Case& c : cases) {
        const ArgValue args[] = {c.text, c.limit};
        WireValue v;
        const bool sent = inputValue(d.inputs[0], args, &v);
        EXPECT_EQ(sent ? encoded(v) : std::string(), c.token) << c.limit;
        EXPECT_EQ(sent, !c.token.empty()) << c.limit;
    }
}

TEST(CArguments, OutputsAreStoredWithinTheirBoundsAndMissingOnlyWhenTheyHaveRoom)
{
    const CallDesc& d = calls::TestCase_Name_Get; // index, buffer, bufferSize
    const WireOutput& out = d.outputs[0];
    char buffer[8];
    struct Case {
        WireValue value;
        int32_t size;
        int32_t rc;
        std::string written; // with the zero; nothing when the buffer is untouched
    };
    const Case cases[] = {
        {WireValue::ofText("Attach"), 6, kBufferTooSmall, ""},
        {WireValue::ofText("Attach"), 7, kSuccess, std::string("Attach\0", 7)},
        {WireValue::ofText(""), -1, kBufferTooSmall, ""},
        {WireValue::nullText(), 1, kSuccess, std::string(1, '\0')}, // the null text arrives empty
    };
    for (const Case& c : cases) {
        std::memset(buffer, 'x', sizeof buffer);
        const ArgValue args[] = {int32_t(0), buffer, c.size};
        EXPECT_EQ(storeOutput(out, args, c.value, 0), c.rc) << c.size;
        EXPECT_EQ(std::string(buffer, sizeof buffer), c.written + std::string(sizeof buffer - c.written.size(), 'x'));
    }
    const ArgValue none[] = {int32_t(0), static_cast<char*>(nullptr), int32_t(0)};
    const ArgValue noneWithRoom[] = {int32_t(0), static_cast<char*>(nullptr), int32_t(1)};
    EXPECT_FALSE(outputMissing(out, none));
    EXPECT_TRUE(outputMissing(out, noneWithRoom));
    const ArgValue noCount[] = {static_cast<int32_t*>(nullptr)};
    EXPECT_TRUE(outputMissing(calls::TestCase_Count_Get.outputs[0], noCount));
}

} // namespace
