// The emulator's in-memory instrument: RF paths, measurement switches, the
// named lists (test cases, scenarios, debug filters, files), results handles
// and the running scenario. Every request handler runs with `mutex` held.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <tqBsePluginControlDll.h>

#include "protocol/result_codes.h"

namespace tqbse::emu {

using Clock = std::chrono::steady_clock;

// The model answers an index, handle or name it does not know, and results
// asked for while none are available, with kInternalObjectError; a trace
// asked for with a capacity below its length with kBufferTooSmall
// (protocol/result_codes.h). Every refusal says why (Model::refuse).

inline constexpr int32_t kMaxTraceLength = 1000000;
inline constexpr int32_t kProtocolTraces = 2;
inline constexpr int32_t kProtocolItems = 4;
inline constexpr int32_t kLteTraces = 3;

struct Path {
    double rxFrequency = 1.95e9;
    float rxLevel = -60.0f;
    double txFrequency = 2.14e9;
    float txReferenceLevel = -30.0f;
    bool adcOverloaded = false; // forced overload, whatever the level
};

struct NamedText {
    std::string name;
    std::string content;
};

struct TestCase {
    std::string name;
    std::string group;
};

struct DebugFilter {
    std::string name;
    int32_t state = 0;
    std::optional<int32_t> pending; // staged by State_Set until accepted or rejected
};

struct LteValues {
    float evmRms = 1.25f;
    float evmCarrier = 1.5f;
    float evmNonAllocatedCarriers = 0.75f;
    float freqError = 12.5f;
    float carrierLeak = -45.0f;
    float symbolClkError = 0.02f;
    float iqGainImbalance = 0.05f;
    float iqSkew = 0.5f;
};

struct Config {
    // The library's own version unless configured: GetServerVersion then returns 0.
    std::array<int32_t, 4> version{TQBSE_VERSION_MAJOR, TQBSE_VERSION_MINOR, TQBSE_VERSION_PATCH, TQBSE_VERSION_BUILD};
    std::vector<Path> paths;
    float adcOverloadLevel = 0.0f; // an RX level above this overloads the converter
    int32_t traceLength = 4096;
    int32_t scenarioRunMs = 1500;
    int32_t lteMeasurements = 8;
    int32_t lteCellId = 1;
    LteValues lte;
    std::vector<TestCase> testCases;
    std::vector<NamedText> scenarios;
    std::vector<DebugFilter> debugFilters;
    std::vector<NamedText> protocolMessageXml;
    std::vector<std::string> systemParamFiles;
};

// The content the emulator serves when started without --config.
Config defaultConfig();
// Overrides the keys present in a JSON document; the others keep their value.
// JSON texts become 8-bit bytes (Latin-1; other characters become '?').
bool applyConfigJson(std::string_view json, Config* config, std::string* error);
bool loadConfigFile(const std::string& path, Config* config, std::string* error);

struct ResultsHandle {
    enum class Kind { Protocol, Lte } kind;
    int32_t index; // LTE: the index the handle was taken for
};

struct FinishedScenario {
    std::string name;
    std::string peer; // address of the client that started it
};

struct Model {
    explicit Model(Config c);

    std::mutex mutex;
    Config config; // the live lists and paths

    int32_t loggingState = 0;
    int32_t rfMeasurementState = 0;
    int32_t connectionStatus = 0;
    std::vector<int32_t> protocolEnabled;          // per path index
    std::map<std::pair<int32_t, int32_t>, int32_t> lteEnabled; // (index, measurement)
    std::map<int32_t, ResultsHandle> handles;
    int32_t nextHandle = 1;
    int32_t testCaseRuns = 0;
    int32_t lastTestCaseRun = -1;

    std::optional<std::string> runningScenario; // the last one executed
    Clock::time_point runningUntil{};
    std::string runningPeer;
    bool scenarioEndPending = false;

    // Why the handler running now refused its request (set by refuse(),
    // cleared before each handler runs).
    std::string refusal;
    // Returns `code` and keeps `reason` for the log line and the reply.
    ResultCode refuse(ResultCode code, std::string reason)
    {
        refusal = std::move(reason);
        return code;
    }

    int32_t pathCount() const { return int32_t(config.paths.size()); }
    bool validPath(int32_t index) const { return index >= 0 && index < pathCount(); }
    bool adcOverloaded(int32_t index) const;
    bool scenarioRunning(Clock::time_point now) const;
    bool protocolResultsAvailable() const;
    bool lteResultsAvailable(int32_t index) const;
    // Turns protocol measurement off and releases every protocol handle.
    void fullProtocolReset();
    // The scenario that ended by `now` and has not been reported yet.
    std::optional<FinishedScenario> takeFinishedScenario(Clock::time_point now);
};

// Uploads replace a text of the same name, or append a new one.
void storeNamedText(std::vector<NamedText>& list, std::string name, std::string content);
const NamedText* findNamedText(const std::vector<NamedText>& list, std::string_view name);

// Deterministic trace points: x_i = i * step, y_i a sine around a level
// that depends on the family and the trace number.
void makeTrace(ResultsHandle::Kind kind, int32_t trace, int32_t length, std::vector<double>* x,
               std::vector<double>* y);
// The two values of a protocol result item.
std::pair<double, double> protocolResultItem(int32_t item);

} // namespace tqbse::emu
