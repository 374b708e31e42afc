// The value model: every tag through the one encoder and the one decoder,
// the client's text-limit rule on inputs, the NULL-output rule, storing into
// caller memory with its -13 bounds, and a server's frame from request to
// reply. The whole call path over these is in call_remote_test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "protocol/call_frame.h"
#include "protocol/call_table.h"
#include "protocol/wire_value.h"

using namespace tqbse;

namespace {

std::string encoded(const WireValue& v)
{
    std::string out;
    encodeValue(out, v);
    return out;
}

TEST(WireValue, EveryTagRoundTripsAndRefusesTheOtherTags)
{
    std::string bytes; // every byte a text can hold
    for (int b = 1; b < 256; ++b)
        bytes.push_back(char(b));
    const std::vector<double> doubles = {1.0, -0.5, 1e300};
    const WireValue values[] = {WireValue::ofInt(-8), WireValue::ofInt(7), WireValue::ofFloat(1.5f),
                                WireValue::ofDouble(1e9), WireValue::ofText("a(b)c"), WireValue::ofText(""),
                                WireValue::ofText(bytes), WireValue::nullText(), WireValue::ofArray(doubles),
                                WireValue::ofArray({})};
    for (const WireValue& v : values) {
        const std::string token = encoded(v);
        WireValue back;
        ASSERT_EQ(decodeValue(v.tag, token, &back), kSuccess) << token;
        EXPECT_EQ(back.tag, v.tag);
        EXPECT_EQ(back.i, v.i);
        EXPECT_EQ(back.f, v.f);
        EXPECT_EQ(back.d, v.d);
        EXPECT_EQ(back.text, v.text) << token;
        EXPECT_EQ(back.isNull, v.isNull) << token;
        std::vector<double> array(std::size_t(back.array.count));
        back.array.copyTo(array.data());
        EXPECT_EQ(array, std::vector<double>(v.doubles.begin(), v.doubles.end())) << token;
        for (WireTag other : {WireTag::Int, WireTag::Float, WireTag::Double, WireTag::String, WireTag::DoubleArray})
            if (other != v.tag) {
                EXPECT_EQ(decodeValue(other, token, &back), kParameterType) << token;
            }
    }
    EXPECT_EQ(encoded(WireValue::nullText()), "(s=NULL)");
    EXPECT_EQ(encoded(WireValue::ofArray({})), "(da=0[])");
}

TEST(WireValue, ATextInputLongerThanItsLimitSendsNothing)
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

TEST(WireValue, OutputsAreStoredWithinTheirBoundsAndMissingOnlyWhenTheyHaveRoom)
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

TEST(CallFrame, AServerFrameDecodesTheRequestAndEncodesTheReplyItsRowDescribes)
{
    CallFrame frame(calls::TestCase_Name_Get); // index and buffer size in, a text out
    const std::string_view tokens[] = {"(n=03000000)", "(n=10000000)"};
    ASSERT_EQ(frame.decodeRequest(tokens), kSuccess);
    EXPECT_EQ(frame.input(0).i, 3);
    EXPECT_EQ(frame.input(1).i, 16);
    EXPECT_EQ(frame.decodeRequest(std::span(tokens, 1)), kParameterCount);
    const std::string_view wrongTag[] = {"(n=03000000)", "(s=x)"};
    EXPECT_EQ(frame.decodeRequest(wrongTag), kParameterType);

    EXPECT_EQ(frame.encodeReply("N", 0), "N=(n=eeffffff)"); // no output yet: -18
    EXPECT_TRUE(frame.addOutput(WireValue::ofText("a b")));
    EXPECT_EQ(frame.encodeReply("N", 2), "N=(n=02000000)(s=a b)");
    EXPECT_EQ(frame.encodeReply("N", -7), "N=(n=f9ffffff)");
    EXPECT_FALSE(frame.addOutput(WireValue::ofText("one too many")));
    EXPECT_EQ(frame.encodeReply("N", 0), "N=(n=eeffffff)");

    CallFrame version(calls::GetServerVersion); // one output of four tokens
    for (int32_t v : {6, 0, 1})
        version.addOutput(WireValue::ofInt(v));
    EXPECT_FALSE(version.addOutput(WireValue::ofFloat(2)));
    EXPECT_EQ(version.encodeReply("V", 0), "V=(n=eeffffff)");
}

} // namespace
