// Host flows through the library's exports against the emulator process on
// 127.0.0.10: one flow per family (every export's request and reply is in
// family_calls_test).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "tqBsePluginControlDll.h"

namespace tqbse::test {
namespace {

constexpr int32_t kUnknownObject = -18;

class EmulatorFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(emulator.start({"--scenario-ms", "300"}, &error)) << error;
        ASSERT_EQ(tqBsePluginControlDll_Initialise(127, 0, 0, 10), 0); // EmulatorProcess's address
    }
    void TearDown() override
    {
        tqBsePluginControlDll_Shutdown();
        emulator.stop();
    }
    EmulatorProcess emulator;
};

// Reads a list the way a host does: count, then each length and name; a
// buffer of the length alone (no room for the zero) gives -13.
std::vector<std::string> readList(int32_t (*count)(int32_t*), int32_t (*length)(int32_t, int32_t*),
                                  int32_t (*name)(int32_t, char*, int32_t))
{
    std::vector<std::string> out;
    int32_t n = -1;
    EXPECT_EQ(count(&n), 0);
    for (int32_t i = 0; i < n && i < 1000; ++i) {
        int32_t len = -1;
        EXPECT_EQ(length(i, &len), 0);
        std::vector<char> buffer(std::size_t(len) + 1, '#');
        EXPECT_EQ(name(i, buffer.data(), len), -13);
        EXPECT_EQ(name(i, buffer.data(), len + 1), 0);
        out.emplace_back(buffer.data());
    }
    EXPECT_EQ(length(n, &n), kUnknownObject);
    return out;
}

std::string download(int32_t (*size)(const char*, int32_t, int32_t*),
                     int32_t (*get)(const char*, int32_t, char*, int32_t), const std::string& name)
{
    int32_t bytes = -1;
    EXPECT_EQ(size(name.c_str(), int32_t(name.size()), &bytes), 0);
    std::string buffer(std::size_t(bytes) + 1, '#');
    EXPECT_EQ(get(name.c_str(), int32_t(name.size()), buffer.data(), bytes), -13);
    EXPECT_EQ(get(name.c_str(), int32_t(name.size()), buffer.data(), bytes + 1), 0);
    EXPECT_EQ(buffer[std::size_t(bytes)], '\0');
    buffer.resize(std::size_t(bytes));
    return buffer;
}

// Every byte 0x01..0xFF, parentheses balanced ("(" 0x28 comes before ")" 0x29).
std::string allBytes(std::size_t repeat)
{
    std::string s;
    for (std::size_t r = 0; r < repeat; ++r)
        for (int b = 1; b < 256; ++b)
            s.push_back(char(b));
    return s;
}

TEST_F(EmulatorFlow, ServerQueriesAndConnection)
{
    int32_t version[4] = {-1, -1, -1, -1};
    EXPECT_EQ(tqBsePluginControlDll_GetServerVersion(version), 0);
    EXPECT_EQ(std::vector<int32_t>(version, version + 4), (std::vector<int32_t>{6, 0, 0, 0}));
    int32_t connected = 0;
    ASSERT_EQ(tqBsePluginControlDll_ConnectionStatus_Get(&connected), 0);
    EXPECT_EQ(connected, -1); // the flag Initialise sent
    // A code the library has no text for is asked of the server.
    int32_t length = 0;
    ASSERT_EQ(tqBsePluginControlDll_GetErrorMsgLength(-15, &length), 0);
    std::vector<char> text(std::size_t(length), '#');
    ASSERT_EQ(tqBsePluginControlDll_GetErrorMsg(1000, text.data(), length), 0);
    EXPECT_EQ(std::strlen(text.data()), std::size_t(length - 1));
    EXPECT_EQ(tqBsePluginControlDll_FullProtocolReset(), 0);
}

TEST_F(EmulatorFlow, RfSettingsReadBackWhatWasSet)
{
    double f = 0;
    float level = 0;
    int32_t state = 0;
    ASSERT_EQ(tqBsePluginControlDll_RX_CentreFrequency_Set(1, 2.1e9), 0);
    ASSERT_EQ(tqBsePluginControlDll_RX_CentreFrequency_Get(1, &f), 0);
    EXPECT_EQ(f, 2.1e9);
    ASSERT_EQ(tqBsePluginControlDll_RX_InputLevel_Set(1, -42.25f), 0);
    ASSERT_EQ(tqBsePluginControlDll_RX_InputLevel_Get(1, &level), 0);
    EXPECT_EQ(level, -42.25f);
    EXPECT_EQ(tqBsePluginControlDll_RX_CentreFrequency_Get(2, &f), kUnknownObject);
    ASSERT_EQ(tqBsePluginControlDll_LoggingState_Set(2), 0); // flags pass unchanged
    ASSERT_EQ(tqBsePluginControlDll_LoggingState_Get(&state), 0);
    EXPECT_EQ(state, 2);
    ASSERT_EQ(tqBsePluginControlDll_RX_InputLevel_Set(0, 3.0f), 0); // above 0 dBm the converter overloads
    ASSERT_EQ(tqBsePluginControlDll_ADCOverloaded_Get(0, &state), 0);
    EXPECT_NE(state, 0);
}

TEST_F(EmulatorFlow, TestCasesListAndRun)
{
    EXPECT_EQ(readList(tqBsePluginControlDll_TestCase_Count_Get, tqBsePluginControlDll_TestCase_NameLength_Get,
                       tqBsePluginControlDll_TestCase_Name_Get),
              (std::vector<std::string>{"Attach", "Detach", "Handover_Intra", "Handover_Inter", "Paging"}));
    EXPECT_EQ(readList(tqBsePluginControlDll_TestCase_Count_Get, tqBsePluginControlDll_TestCase_GroupNameLength_Get,
                       tqBsePluginControlDll_TestCase_GroupName_Get)[2],
              "Mobility");
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Run(2), 0);
    EXPECT_EQ(tqBsePluginControlDll_TestCase_Run(5), kUnknownObject);
}

TEST_F(EmulatorFlow, ProtocolResultsTracesItemsAndHandles)
{
    int32_t flag = 7, handle = 0, length = 0;
    EXPECT_EQ(tqBsePluginControlDll_Protocol_Results_GetHandle(&handle), kUnknownObject);
    ASSERT_EQ(tqBsePluginControlDll_Protocol_MeasurementEnabled_Set(0, -1), 0);
    ASSERT_EQ(tqBsePluginControlDll_Protocol_MeasurementEnabled_Get(0, &flag), 0);
    EXPECT_EQ(flag, -1);
    ASSERT_EQ(tqBsePluginControlDll_Protocol_Results_Available_Get(&flag), 0);
    EXPECT_NE(flag, 0);
    ASSERT_EQ(tqBsePluginControlDll_Protocol_Results_GetHandle(&handle), 0);
    ASSERT_EQ(tqBsePluginControlDll_Protocol_Results_GetTraceLength(handle, 1, &length), 0);
    ASSERT_EQ(length, 4096);
    std::vector<double> x(std::size_t(length) + 1, -1.0), y(std::size_t(length) + 1, -1.0);
    EXPECT_EQ(tqBsePluginControlDll_Protocol_Results_GetTrace(handle, 1, x.data(), y.data(), length - 1), -13);
    ASSERT_EQ(tqBsePluginControlDll_Protocol_Results_GetTrace(handle, 1, x.data(), y.data(), length + 1), 0);
    EXPECT_EQ(x[std::size_t(length) - 1], double(length - 1)); // exactly `length` points written
    EXPECT_EQ(x[std::size_t(length)], -1.0);
    EXPECT_EQ(y[std::size_t(length)], -1.0);
    EXPECT_DOUBLE_EQ(y[0], 10.0);
    double first = 0, second = 0;
    ASSERT_EQ(tqBsePluginControlDll_Protocol_Results_GetResultItem(handle, 1, &first, &second), 0);
    EXPECT_EQ(first, 200.0);
    EXPECT_EQ(second, 0.5);
    EXPECT_EQ(tqBsePluginControlDll_Results_DeleteHandle(handle), 0);
    EXPECT_EQ(tqBsePluginControlDll_Results_DeleteHandle(handle), kUnknownObject);
    // A full protocol reset switches the measurement off and ends its results.
    ASSERT_EQ(tqBsePluginControlDll_Protocol_Results_GetHandle(&handle), 0);
    ASSERT_EQ(tqBsePluginControlDll_FullProtocolReset(), 0);
    ASSERT_EQ(tqBsePluginControlDll_Protocol_Results_Available_Get(&flag), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(tqBsePluginControlDll_Results_DeleteHandle(handle), kUnknownObject);
}

TEST_F(EmulatorFlow, LteResults)
{
    int32_t flag = 7, handle = 0, cell = 0, length = 0;
    ASSERT_EQ(tqBsePluginControlDll_LTE_MeasurementEnabled_Set(0, 2, 1), 0);
    ASSERT_EQ(tqBsePluginControlDll_LTE_MeasurementEnabled_Get(0, 2, &flag), 0);
    EXPECT_EQ(flag, 1);
    ASSERT_EQ(tqBsePluginControlDll_LTE_Results_Available_Get(0, &flag), 0);
    EXPECT_NE(flag, 0);
    ASSERT_EQ(tqBsePluginControlDll_LTE_Results_GetHandle(0, &handle), 0);
    ASSERT_EQ(tqBsePluginControlDll_LTE_Results_Cell_Get(handle, &cell), 0);
    EXPECT_EQ(cell, 1);
    ASSERT_EQ(tqBsePluginControlDll_LTE_Results_GetTraceLength(handle, 2, &length), 0);
    std::vector<double> x(static_cast<std::size_t>(length)), y(static_cast<std::size_t>(length));
    ASSERT_EQ(tqBsePluginControlDll_LTE_Results_GetTrace(handle, 2, x.data(), y.data(), length), 0);
    EXPECT_EQ(x.back(), 15000.0 * (length - 1));
    float evm = -1e9f;
    EXPECT_EQ(tqBsePluginControlDll_LTE_Results_Evm_Rms_Get(handle, &evm), 0);
    EXPECT_NE(evm, -1e9f);
    EXPECT_EQ(tqBsePluginControlDll_Results_DeleteHandle(handle), 0);
    EXPECT_EQ(tqBsePluginControlDll_LTE_Results_Cell_Get(handle, &cell), kUnknownObject);
}

TEST_F(EmulatorFlow, ScenariosUploadDownloadAndRun)
{
    EXPECT_EQ(readList(tqBsePluginControlDll_Scenario_Count_Get, tqBsePluginControlDll_Scenario_NameLength_Get,
                       tqBsePluginControlDll_Scenario_Name_Get),
              (std::vector<std::string>{"Idle_Camping", "Call_Setup"}));
    // Larger than 64 MiB, every byte value: crosses many receives both ways.
    const std::string content = allBytes((64u << 20) / 255 + 1);
    ASSERT_EQ(tqBsePluginControlDll_Scenario_Upload("Bytes", 5, content.c_str(), int32_t(content.size())), 0);
    EXPECT_TRUE(download(tqBsePluginControlDll_Scenario_DownloadSize_Get, tqBsePluginControlDll_Scenario_Download,
                         "Bytes") == content);
    // A name longer than its limit is left out of the request: wrong count.
    EXPECT_EQ(tqBsePluginControlDll_Scenario_Execute("Call_Setup", 3), -9);
    int32_t running = -5;
    ASSERT_EQ(tqBsePluginControlDll_Scenario_Execute("Call_Setup", 100), 0);
    ASSERT_EQ(tqBsePluginControlDll_Scenario_IsRunning_Get(&running), 0);
    EXPECT_NE(running, 0);
    for (int i = 0; i < 100 && running != 0; ++i) { // runs for 300 ms
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_EQ(tqBsePluginControlDll_Scenario_IsRunning_Get(&running), 0);
    }
    EXPECT_EQ(running, 0);
}

TEST_F(EmulatorFlow, DebugFiltersStageUntilAccepted)
{
    EXPECT_EQ(readList(tqBsePluginControlDll_DebugFilters_GetCount, tqBsePluginControlDll_DebugFilters_NameLength_Get,
                       tqBsePluginControlDll_DebugFilters_Name_Get),
              (std::vector<std::string>{"RRC", "NAS", "MAC", "PHY"}));
    int32_t state = -9;
    ASSERT_EQ(tqBsePluginControlDll_DebugFilters_State_Set("RRC", 3, 5), 0);
    ASSERT_EQ(tqBsePluginControlDll_DebugFilters_State_Get("RRC", 3, &state), 0);
    EXPECT_EQ(state, 0); // still the applied state
    ASSERT_EQ(tqBsePluginControlDll_DebugFilters_AcceptChanges(), 0);
    ASSERT_EQ(tqBsePluginControlDll_DebugFilters_State_Get("RRC", 3, &state), 0);
    EXPECT_EQ(state, 5);
    ASSERT_EQ(tqBsePluginControlDll_DebugFilters_State_Set("MAC", 3, 0), 0);
    ASSERT_EQ(tqBsePluginControlDll_DebugFilters_RejectChanges(), 0);
    ASSERT_EQ(tqBsePluginControlDll_DebugFilters_AcceptChanges(), 0);
    ASSERT_EQ(tqBsePluginControlDll_DebugFilters_State_Get("MAC", 3, &state), 0);
    EXPECT_EQ(state, 1);
}

TEST_F(EmulatorFlow, ProtocolMessageXmlAndSystemParamFiles)
{
    EXPECT_EQ(readList(tqBsePluginControlDll_ProtocolMessageXml_Count_Get,
                       tqBsePluginControlDll_ProtocolMessageXml_NameLength_Get,
                       tqBsePluginControlDll_ProtocolMessageXml_Name_Get),
              (std::vector<std::string>{"rrc_connection_setup.xml", "attach_accept.xml"}));
    const std::string content = "<message>" + allBytes(2) + "</message>";
    ASSERT_EQ(tqBsePluginControlDll_ProtocolMessageXml_Upload("new.xml", 7, content.c_str(), int32_t(content.size())), 0);
    EXPECT_EQ(download(tqBsePluginControlDll_ProtocolMessageXml_DownloadSize_Get,
                       tqBsePluginControlDll_ProtocolMessageXml_Download, "new.xml"),
              content);
    EXPECT_EQ(readList(tqBsePluginControlDll_SystemParamFile_Count_Get,
                       tqBsePluginControlDll_SystemParamFile_NameLength_Get,
                       tqBsePluginControlDll_SystemParamFile_Name_Get),
              (std::vector<std::string>{"default_cell.par", "two_cells.par", "high_load.par"}));
}

} // namespace
} // namespace tqbse::test
