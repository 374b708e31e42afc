// Result-code texts (local table and the server fallback) and the server
// queries with their own reply rules: the version comparison and shape, and
// the private entry point that is refused. Protocol reset and connection
// status are plain rows, covered by the family table test.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "callback/listener.h"
#include "core/result_codes.h"
#include "support/fake_server.h"
#include "tqBsePluginControlDll.h"

using tqbse::test::FakeServer;

namespace {

constexpr char kSentinel = '\x5a';

struct CodeText {
    int32_t code;
    const char* text;
    int32_t length;
};
const CodeText kTexts[] = {
    {2, "Remote Message Warning - Server Library version is greater than Client version; not all functionality will be available", 120},
    {1, "Remote Message Warning - Client library version is greater than Server version; not all functionality will be available", 120},
    {0, "No Error", 9},
    {-1, "An Unknown Error has occurred!", 31},
    {-2, "Remote Message Error - Parameter Format incorrect", 50},
    {-3, "Remote Message Error - Cannot convert Parameter as expected", 60},
    {-4, "Remote Message Error - Array Length Mismatch", 45},
    {-5, "Remote Message Error - Parameter Type mismatch", 47},
    {-6, "Remote Message Error - Parameter Contents mismatch", 51},
    {-7, "Remote Message Error - Unknown Transmission Error", 50},
    {-8, "Remote Message Error - API Function not found on Server", 56},
    {-9, "Remote Message Error - Incorrect parameter count recieved", 58},
    {-10, "Remote Message Error - Function return value recieved out of order", 67},
    {-11, "Remote Message Error - Server returned incorrect number of parameters", 70},
    {-12, "Remote Message Error - Server did not return an error code", 59},
    {-13, "Remote Message Error - Buffer supplied is too small", 52},
    {-14, "Remote Message Error - No Response recieved from server", 56},
    {-17, "Remote Message Error - Function not valid in Remote mode", 57},
    {-18, "Remote Message Error - Internal Object Error!", 46},
    {-19, "Remote Message Error - The server side DLL could not be loaded!", 64},
    {-20, "Remote Message Error - Parameter type was not expected", 55},
};

TEST(ErrorMessages, TwentyOneTextsFromTheLibrary)
{
    ASSERT_EQ(std::size(kTexts), 21u);
    for (const CodeText& c : kTexts) {
        EXPECT_EQ(int32_t(std::strlen(c.text)) + 1, c.length) << c.code; // the table itself

        int32_t length = -1;
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsgLength(c.code, &length), 0) << c.code;
        EXPECT_EQ(length, c.length) << c.code;

        std::vector<char> buffer(std::size_t(c.length) + 8, kSentinel);
        // One byte short: -13, the buffer untouched.
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(c.code, buffer.data(), c.length - 1), -13) << c.code;
        EXPECT_EQ(std::string(buffer.data(), buffer.size()), std::string(buffer.size(), kSentinel)) << c.code;
        // Exactly the length: the text and its zero, nothing beyond.
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(c.code, buffer.data(), c.length), 0) << c.code;
        EXPECT_STREQ(buffer.data(), c.text);
        EXPECT_EQ(buffer[std::size_t(c.length) - 1], '\0');
        EXPECT_EQ(buffer[std::size_t(c.length)], kSentinel) << c.code;
        EXPECT_EQ(tqbse::errorText(c.code), std::string_view(c.text));
    }
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

// ---- Against a fake server on 127.0.0.3 ------------------------------------

class WithServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_ = std::make_unique<FakeServer>("127.0.0.3");
        ASSERT_TRUE(server_->isListening()) << "cannot listen on 127.0.0.3:6002";
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 3), 0);
        server_->clearRequests();
    }
    void TearDown() override
    {
        tqBsePluginControlDll_Shutdown();
        tqbse::callback::stopListener();
        server_.reset();
    }
    std::unique_ptr<FakeServer> server_;
};

TEST_F(WithServer, KnownCodesNeverTouchTheConnection)
{
    for (const CodeText& c : kTexts) {
        int32_t length = 0;
        char buffer[128];
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsgLength(c.code, &length), 0);
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(c.code, buffer, 128), 0);
    }
    EXPECT_EQ(server_->requestCount(), 0u);
}

TEST_F(WithServer, UnknownCodesAskTheServerWithoutTheCode)
{
    const QByteArray lengthName = "tqBsePluginControlDll_GetErrorMsgLength";
    const QByteArray textName = "tqBsePluginControlDll_GetErrorMsg";
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
    const QByteArray textName = "tqBsePluginControlDll_GetErrorMsg";
    const QByteArray lengthName = "tqBsePluginControlDll_GetErrorMsgLength";
    struct Case {
        QByteArray reply;
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
        EXPECT_EQ(tqBsePluginControlDll_GetErrorMsg(-16, buffer, c.bufferSize), c.rc) << c.reply.constData();
        if (c.text) {
            EXPECT_STREQ(buffer, c.text) << c.reply.constData();
        } else {
            EXPECT_EQ(std::string(buffer, 16), std::string(16, kSentinel)) << c.reply.constData();
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
    const QByteArray name = "tqBsePluginControlDll_GetServerVersion";
    auto token = [](int32_t v) {
        QByteArray t = "(n=";
        for (int i = 0; i < 4; ++i)
            t += QByteArray::number((uint32_t(v) >> (8 * i)) & 0xff, 16).rightJustified(2, '0');
        return t + ")";
    };
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
    const QByteArray name = "tqBsePluginControlDll_GetServerVersion";
    const QByteArray ok = "(n=00000000)";
    const QByteArray six = "(n=06000000)";
    const QByteArray zero = "(n=00000000)";
    struct Case {
        const char* what;
        QByteArray reply;
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
