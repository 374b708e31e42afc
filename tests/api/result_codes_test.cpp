// Result-code texts (local table and the server fallback) and the server
// queries with their own reply rules: the version comparison and shape, and
// the private entry point that is refused. Protocol reset and connection
// status are plain rows, covered by the family table test.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "listener/listener.h"
#include "protocol/result_codes.h"
#include "support/fake_server.h"
#include "support/wire_text.h"
#include "tqBsePluginControlDll.h"

using tqbse::test::FakeServer;

namespace {

constexpr char kSentinel = '\x5a';

// The texts hosts compare, spelling included, answered without a connection
// (a question to the server would be -14): the length counts the zero, a
// buffer one byte short gives -13 and stays untouched, a buffer of exactly
// the length holds the text and its zero and nothing beyond.
TEST(ErrorMessages, LocalTextsAreExactAndFitTheirReportedLength)
{
    const std::string e = "Remote Message Error - ";
    const std::pair<int32_t, std::string> texts[] = {
        {2, "Remote Message Warning - Server Library version is greater than Client version; not all "
            "functionality will be available"},
        {1, "Remote Message Warning - Client library version is greater than Server version; not all "
            "functionality will be available"},
        {0, "No Error"},
        {-1, "An Unknown Error has occurred!"},
        {-2, e + "Parameter Format incorrect"},
        {-3, e + "Cannot convert Parameter as expected"},
        {-4, e + "Array Length Mismatch"},
        {-5, e + "Parameter Type mismatch"},
        {-6, e + "Parameter Contents mismatch"},
        {-7, e + "Unknown Transmission Error"},
        {-8, e + "API Function not found on Server"},
        {-9, e + "Incorrect parameter count recieved"},
        {-10, e + "Function return value recieved out of order"},
        {-11, e + "Server returned incorrect number of parameters"},
        {-12, e + "Server did not return an error code"},
        {-13, e + "Buffer supplied is too small"},
        {-14, e + "No Response recieved from server"},
        {-17, e + "Function not valid in Remote mode"},
        {-18, e + "Internal Object Error!"},
        {-19, e + "The server side DLL could not be loaded!"},
        {-20, e + "Parameter type was not expected"},
    };
    tqBsePluginControlDll_Shutdown(); // no connection, whatever ran before
    for (const auto& [code, text] : texts) {
        const int32_t expectedLength = int32_t(text.size()) + 1;
        int32_t length = -1;
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsgLength(code, &length), 0) << code;
        EXPECT_EQ(length, expectedLength) << code;
        std::vector<char> buffer(std::size_t(expectedLength) + 8, kSentinel);
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(code, buffer.data(), expectedLength - 1), -13) << code;
        EXPECT_EQ(std::string(buffer.data(), buffer.size()), std::string(buffer.size(), kSentinel)) << code;
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(code, buffer.data(), expectedLength), 0) << code;
        EXPECT_EQ(std::string(buffer.data()), text);
        EXPECT_EQ(buffer[std::size_t(expectedLength)], kSentinel) << code;
    }
    for (int32_t code : {-21, -16, -15, 3})
        EXPECT_TRUE(tqbse::errorText(code).empty()) << code;
}

// ---- Against a fake server on 127.0.0.3 --------------------------------------

class WithServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_ = std::make_unique<FakeServer>("127.0.0.3");
        ASSERT_TRUE(server_->isListening()) << "cannot listen on 127.0.0.3";
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 3), 0);
    }
    void TearDown() override
    {
        tqBsePluginControlDll_Shutdown();
        tqbse::listener::stopListener();
        server_.reset();
    }
    std::unique_ptr<FakeServer> server_;
};

TEST_F(WithServer, UnknownCodesAskTheServerWithoutTheCode)
{
    const std::string lengthName = "tqBsePluginControlDll_GetErrorMsgLength";
    const std::string textName = "tqBsePluginControlDll_GetErrorMsg";
    for (int32_t code : {-16, -15, -21, 3, 1000}) {
        server_->push(lengthName + "=(n=00000000)(n=0a000000)");
        int32_t length = 0;
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsgLength(code, &length), 0) << code;
        EXPECT_EQ(length, 10);
        EXPECT_EQ(server_->lastRequest(), lengthName + "=");

        server_->push(textName + "=(n=00000000)(s=Bad octet)");
        char buffer[16];
        std::memset(buffer, kSentinel, sizeof buffer);
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(code, buffer, 16), 0) << code;
        EXPECT_STREQ(buffer, "Bad octet");
        EXPECT_EQ(buffer[10], kSentinel);
        EXPECT_EQ(server_->lastRequest(), textName + "=");
    }
}

// The library compares the server's version with its own 6.0.0.0 and
// returns 0, 1 (server older) or 2 (server newer) whatever non-negative
// result the server sent; a reply of another shape writes nothing past the
// first bad parameter.
TEST_F(WithServer, ServerVersionComparisonAndReplyShape)
{
    const std::string name = "tqBsePluginControlDll_GetServerVersion";
    const auto v = [](int32_t a, int32_t b, int32_t c, int32_t d) {
        using tqbse::test::intToken;
        return intToken(a) + intToken(b) + intToken(c) + intToken(d);
    };
    const std::string ok = "(n=00000000)", six = "(n=06000000)", zero = ok;
    struct Case {
        std::string reply;
        int32_t rc;
        int32_t expected[4]; // 9 where untouched
    };
    const std::vector<Case> cases = {
        {name + "=" + ok + v(6, 0, 0, 0), 0, {6, 0, 0, 0}},
        {name + "=(n=02000000)" + v(6, 0, 0, 0), 0, {6, 0, 0, 0}},
        {name + "=" + ok + v(5, 9, 9, 9), 1, {5, 9, 9, 9}},
        {name + "=(n=02000000)" + v(0, 99, 99, 99), 1, {0, 99, 99, 99}},
        {name + "=(n=01000000)" + v(6, 0, 0, 1), 2, {6, 0, 0, 1}},
        {name + "=" + ok + v(INT32_MAX, 0, 0, 0), 2, {INT32_MAX, 0, 0, 0}},
        {name + "=(n=f8ffffff)", -11, {9, 9, 9, 9}},
        {name + "=" + ok + six + zero + zero, -11, {9, 9, 9, 9}},
        {name + "=" + ok + six + zero + zero + zero + zero, -11, {9, 9, 9, 9}},
        {name + "=" + ok + six + zero + zero + zero + "junk)", -11, {9, 9, 9, 9}}, // a sixth parameter
        {name + "=(n=f9ffffff)" + six + zero + zero + zero, -7, {9, 9, 9, 9}},
        {name + "=(d=0000000000000000)" + six + zero + zero + zero, -12, {9, 9, 9, 9}},
        {name + "=" + ok + six + "(d=0000000000000000)" + zero + zero, -5, {6, 9, 9, 9}},
        {name + "=" + ok + six + zero + zero + "(s=0)", -5, {6, 0, 0, 9}},
        {name + "=" + ok + "(n=06)" + zero + zero + zero, -6, {9, 9, 9, 9}},
        {"tqBsePluginControlDll_FullProtocolReset=" + ok + six + zero + zero + zero, -10, {9, 9, 9, 9}},
    };
    for (const Case& c : cases) {
        server_->push(c.reply);
        int32_t version[4] = {9, 9, 9, 9};
        EXPECT_EQ(tqBsePluginControlDll_GetServerVersion(version), c.rc) << c.reply;
        EXPECT_EQ(std::vector<int32_t>(version, version + 4), std::vector<int32_t>(c.expected, c.expected + 4))
            << c.reply;
        EXPECT_EQ(server_->lastRequest(), name + "=");
    }
}

TEST_F(WithServer, PrivateDataSendsNothing)
{
    for (int32_t v : {0, 1, -1, INT32_MAX, INT32_MIN})
        EXPECT_EQ(tqBsePluginControlDll_TarquelPrivateData_Set(v), -17);
    EXPECT_EQ(server_->requests().size(), 1u); // the announcement of Initialise only
}

} // namespace
