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
#include "core/wire_text.h"
#include "tqBsePluginControlDll.h"

using tqbse::test::FakeServer;

namespace {

constexpr char kSentinel = '\x5a';

// Every code the library has a text for, from the one result-code list: the
// length counts the zero, a buffer one byte short gives -13 and stays
// untouched, a buffer of exactly the length holds the text and its zero and
// nothing beyond.
TEST(ErrorMessages, LocalTextsFitExactlyTheirReportedLength)
{
    int local = 0;
    for (int32_t code = tqbse::kLowestCode - 1; code <= tqbse::kHighestCode + 1; ++code) {
        const std::string text(tqbse::errorText(code));
        if (text.empty())
            continue;
        ++local;
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
    EXPECT_EQ(local, 21); // -20..2 except -16 and -15
    // Two texts as hosts compare them, spelling included.
    EXPECT_EQ(tqbse::errorText(0), "No Error");
    EXPECT_EQ(tqbse::errorText(-14), "Remote Message Error - No Response recieved from server");
}

TEST(ErrorMessages, BufferBoundariesForTheTooSmallText)
{
    char buffer[64];
    std::memset(buffer, kSentinel, sizeof buffer);
    EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(-13, buffer, 51), -13);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, kSentinel));
    EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(-13, buffer, 0), -13);
    EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(-13, buffer, -1), -13);
    EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(-13, buffer, INT32_MIN), -13);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, kSentinel));
    EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(-13, buffer, 52), 0);
    EXPECT_EQ(buffer[51], '\0');
    EXPECT_EQ(buffer[52], kSentinel);
    EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(-13, buffer, INT32_MAX), 0);
}

TEST(ErrorMessages, UnknownCodesWithoutConnectionGiveNoResponse)
{
    tqBsePluginControlDll_Shutdown(); // no connection, whatever ran before
    for (int32_t code : {-16, -15, -21, 3, 1000, INT32_MIN, INT32_MAX}) {
        int32_t length = 77;
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsgLength(code, &length), -14) << code;
        EXPECT_EQ(length, 77);
        char buffer[8];
        std::memset(buffer, kSentinel, sizeof buffer);
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(code, buffer, 8), -14) << code;
        EXPECT_EQ(std::string(buffer, 8), std::string(8, kSentinel));
        EXPECT_TRUE(tqbse::errorText(code).empty()) << code;
    }
}

TEST(ServerQueries, WithoutConnectionNoResponse)
{
    tqBsePluginControlDll_Shutdown();
    EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), -14);
    int32_t version[4] = {9, 9, 9, 9};
    EXPECT_EQ(tqBsePluginControlDll_GetServerVersion(version), -14);
    EXPECT_EQ(version[0], 9);
    int32_t status = 9;
    EXPECT_EQ(tqBsePluginControlDll_ConnectionStatus_Get(&status), -14);
    EXPECT_EQ(status, 9);
}

// ---- Against a fake server on 127.0.0.3 --------------------------------------

class WithServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_ = std::make_unique<FakeServer>("127.0.0.3");
        ASSERT_TRUE(server_->isListening()) << "cannot listen on 127.0.0.3";
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 3), 0);
        server_->clearRequests();
    }
    void TearDown() override
    {
        tqBsePluginControlDll_Shutdown();
        tqbse::listener::stopListener();
        server_.reset();
    }
    std::unique_ptr<FakeServer> server_;
};

TEST_F(WithServer, KnownCodesNeverTouchTheConnection)
{
    for (int32_t code = tqbse::kLowestCode; code <= tqbse::kHighestCode; ++code) {
        if (tqbse::errorText(code).empty())
            continue;
        int32_t length = 0;
        char buffer[128];
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsgLength(code, &length), 0) << code;
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(code, buffer, 128), 0) << code;
    }
    EXPECT_EQ(server_->requestCount(), 0u);
}

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
    EXPECT_EQ(server_->requestCount(), 10u);
}

TEST_F(WithServer, RemoteTextRules)
{
    const std::string textName = "tqBsePluginControlDll_GetErrorMsg";
    const std::string lengthName = "tqBsePluginControlDll_GetErrorMsgLength";
    struct Case {
        std::string reply;
        int32_t bufferSize;
        int32_t rc;
        const char* text; // nullptr: untouched
    };
    const std::vector<Case> cases = {
        {textName + "=(n=00000000)(s=Bad octet)", 9, -13, nullptr},
        {textName + "=(n=00000000)(s=Bad octet)", 10, 0, "Bad octet"},
        {textName + "=(n=02000000)(s=Bad octet)(n=00000000)", 10, 2, "Bad octet"},
        {textName + "=(n=00000000)(s=NULL)", 1, 0, ""},
        {textName + "=(n=00000000)(s=NULL)", 0, -13, nullptr},
        {textName + "=(n=00000000)", 10, -11, nullptr},
        {textName + "=(n=f9ffffff)(s=Bad octet)", 10, -7, nullptr},
        {textName + "=(n=f9ffffff)", 10, -7, nullptr},
        {textName + "=(n=00000000)(n=01000000)", 10, -5, nullptr},
        {textName + "=(d=0000000000000000)(s=x)", 10, -12, nullptr},
        {lengthName + "=(n=00000000)(s=x)", 10, -10, nullptr},
    };
    for (const Case& c : cases) {
        server_->push(c.reply);
        char buffer[16];
        std::memset(buffer, kSentinel, sizeof buffer);
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(-16, buffer, c.bufferSize), c.rc) << c.reply.c_str();
        if (c.text) {
            EXPECT_STREQ(buffer, c.text) << c.reply.c_str();
        } else {
            EXPECT_EQ(std::string(buffer, 16), std::string(16, kSentinel)) << c.reply.c_str();
        }
    }

    int32_t length = 77;
    server_->push(lengthName + "=(n=00000000)");
    EXPECT_EQ(tqBsePluginControlDll_GetErrorMsgLength(-16, &length), -11);
    server_->push(lengthName + "=(n=f9ffffff)(n=05000000)");
    EXPECT_EQ(tqBsePluginControlDll_GetErrorMsgLength(-16, &length), -7);
    server_->push(lengthName + "=(n=00000000)(s=5)");
    EXPECT_EQ(tqBsePluginControlDll_GetErrorMsgLength(-16, &length), -5);
    EXPECT_EQ(length, 77);
    server_->push(lengthName + "=(n=00000000)(n=0500zz00)");
    EXPECT_EQ(tqBsePluginControlDll_GetErrorMsgLength(-16, &length), -6);
    EXPECT_EQ(length & 0xffff, 0x0005); // the bytes before the bad pair
}

TEST_F(WithServer, ServerVersionComparison)
{
    const std::string name = "tqBsePluginControlDll_GetServerVersion";
    const auto token = tqbse::test::intToken;
    struct Case {
        int32_t v[4];
        int32_t rc;
    };
    const Case cases[] = {
        {{6, 0, 0, 0}, 0},  {{5, 9, 9, 9}, 1},    {{6, 0, 0, 1}, 2},   {{7, 0, 0, 0}, 2},
        {{6, -1, 5, 5}, 1}, {{6, 0, -1, 9}, 1},   {{-6, 0, 0, 0}, 1},  {{6, 1, -9, -9}, 2},
        {{0, 99, 99, 99}, 1}, {{INT32_MAX, 0, 0, 0}, 2},
    };
    for (const Case& c : cases) {
        for (int32_t result : {0, 1, 2}) {
            server_->push(name + "=" + token(result) + token(c.v[0]) + token(c.v[1]) + token(c.v[2]) + token(c.v[3]));
            int32_t version[4] = {};
            EXPECT_EQ(tqBsePluginControlDll_GetServerVersion(version), c.rc)
                << c.v[0] << "." << c.v[1] << "." << c.v[2] << "." << c.v[3];
            EXPECT_EQ(std::vector<int32_t>(version, version + 4), std::vector<int32_t>(c.v, c.v + 4));
            EXPECT_EQ(server_->lastRequest(), name + "=");
        }
    }
}

TEST_F(WithServer, ServerVersionReplyShape)
{
    const std::string name = "tqBsePluginControlDll_GetServerVersion";
    const std::string ok = "(n=00000000)";
    const std::string six = "(n=06000000)";
    const std::string zero = "(n=00000000)";
    struct Case {
        const char* what;
        std::string reply;
        int32_t rc;
        int32_t expected[4]; // 9 where untouched
    };
    const std::vector<Case> cases = {
        {"negative code alone", name + "=(n=f8ffffff)", -11, {9, 9, 9, 9}},
        {"four parameters", name + "=" + ok + six + zero + zero, -11, {9, 9, 9, 9}},
        {"six parameters", name + "=" + ok + six + zero + zero + zero + zero, -11, {9, 9, 9, 9}},
        {"trailing text ending in ) is a sixth", name + "=" + ok + six + zero + zero + zero + "junk)", -11, {9, 9, 9, 9}},
        {"five with -7", name + "=(n=f9ffffff)" + six + zero + zero + zero, -7, {9, 9, 9, 9}},
        {"result not an integer", name + "=(d=0000000000000000)" + six + zero + zero + zero, -12, {9, 9, 9, 9}},
        {"third is a double", name + "=" + ok + six + "(d=0000000000000000)" + zero + zero, -5, {6, 9, 9, 9}},
        {"fifth is a string", name + "=" + ok + six + zero + zero + "(s=0)", -5, {6, 0, 0, 9}},
        {"second too short", name + "=" + ok + "(n=06)" + zero + zero + zero, -6, {9, 9, 9, 9}},
        {"another name", "tqBsePluginControlDll_FullProtocolReset=" + ok + six + zero + zero + zero, -10, {9, 9, 9, 9}},
    };
    for (const Case& c : cases) {
        server_->push(c.reply);
        int32_t version[4] = {9, 9, 9, 9};
        EXPECT_EQ(tqBsePluginControlDll_GetServerVersion(version), c.rc) << c.what;
        EXPECT_EQ(std::vector<int32_t>(version, version + 4), std::vector<int32_t>(c.expected, c.expected + 4)) << c.what;
    }
}

TEST_F(WithServer, PrivateDataSendsNothing)
{
    for (int32_t v : {0, 1, -1, INT32_MAX, INT32_MIN})
        EXPECT_EQ(tqBsePluginControlDll_TarquelPrivateData_Set(v), -17);
    EXPECT_EQ(server_->requestCount(), 0u);
}

} // namespace
