// The value model: every tag through the one encoder and the one decoder,
// only the active member existing, a value as text, and a server's frame
// from request to reply. The C-argument rules are in c_arguments_test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "protocol/call_frame.h"
#include "protocol/call_table.h"
#include "protocol/value_text.h"
#include "protocol/wire_value.h"
#include "support/encoded.h"

using namespace tqbse;

namespace {

using test::encoded;

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
        ASSERT_EQ(decodeValue(v.tag(), token, &back), kSuccess) << token;
        EXPECT_EQ(back.tag(), v.tag());
        EXPECT_EQ(back.asInt(), v.asInt());
        EXPECT_EQ(back.asFloat(), v.asFloat());
        EXPECT_EQ(back.asDouble(), v.asDouble());
        EXPECT_EQ(back.text(), v.text()) << token;
        EXPECT_EQ(back.isNull(), v.isNull()) << token;
        EXPECT_EQ(back.arrayValues(), v.arrayValues()) << token;
        for (WireTag other : {WireTag::Int, WireTag::Float, WireTag::Double, WireTag::String, WireTag::DoubleArray})
            if (other != v.tag()) {
                EXPECT_EQ(decodeValue(other, token, &back), kParameterType) << token;
            }
    }
    EXPECT_EQ(encoded(WireValue::nullText()), "(s=NULL)");
    EXPECT_EQ(encoded(WireValue::ofArray({})), "(da=0[])");
}

TEST(WireValue, OnlyTheMemberOfItsTagExistsAndShowsAsTheToolPrintsIt)
{
    const WireValue f = WireValue::ofFloat(1.5f);
    EXPECT_EQ(f.tag(), WireTag::Float);
    EXPECT_EQ(f.asInt(), 0); // another tag's member reads as zero
    EXPECT_TRUE(f.text().empty());
    EXPECT_EQ(WireValue().tag(), WireTag::None);
    const std::vector<double> three = {1, 2.5, 1950000000};
    const std::string token = encoded(WireValue::ofArray(three));
    WireValue decoded; // views `token`
    ASSERT_EQ(decodeValue(WireTag::DoubleArray, token, &decoded), kSuccess);
    EXPECT_TRUE(decoded.doubles().empty()); // a decoded array is its element text
    EXPECT_EQ(decoded.arrayValues(), three);
    EXPECT_EQ(encoded(decoded), token);

    struct Case {
        WireValue value;
        const char* text;
    };
    const Case cases[] = {
        {WireValue::ofInt(-3), "-3"},
        {WireValue::ofFloat(0.1f), "0.1"},
        {WireValue::ofDouble(1.95e9), "1950000000"},
        {WireValue::ofDouble(1e-7), "1e-07"},
        {WireValue::ofText("a\"\n"), "\"a\\\"\\u000a\""},
        {WireValue::ofText("abcdef"), "\"abc\"… (6 bytes)"},
        {WireValue::nullText(), "NULL"},
        {decoded, "[3: 1, 2.5, …]"},
        {WireValue::ofArray({}), "[0:]"},
        {WireValue(), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(valueText(c.value, ShownLimits{3, 2}), c.text);
}

TEST(CallFrame, AServerFrameDecodesTheRequestAndEncodesTheReplyItsRowDescribes)
{
    CallFrame frame(calls::TestCase_Name_Get); // index and buffer size in, a text out
    const std::string_view tokens[] = {"(n=03000000)", "(n=10000000)"};
    ASSERT_EQ(frame.decodeRequest(tokens), kSuccess);
    EXPECT_EQ(frame.input(0).asInt(), 3);
    EXPECT_EQ(frame.input(1).asInt(), 16);
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
