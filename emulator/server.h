// The emulator's TCP server: one listening socket, a thread per client,
// each request answered whole before that connection's next one is read.
// Sockets through platform/platform.h, request framing by
// tqbse::RequestFramer.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "emulator/faults.h"
#include "emulator/model.h"
#include "emulator/replay.h"
#include "emulator/request_memory.h"
#include "platform/platform.h"

namespace tqbse::emu {

// A connection whose request grows beyond this is closed. All connections
// together are bounded by ServerSettings::requestMemory (at least 1 MiB,
// 2 GiB by default): one connection holds at most the smaller of the two.
inline constexpr std::size_t kMaxRequestBytes = std::size_t(512) << 20;

struct ServerSettings {
    std::string bind = "127.0.0.1";
    int port = 6002;
    bool trace = false;
    bool callbackOnScenarioEnd = false;
    int callbackPort = 6009;
    int eventEveryMs = 0;   // 0: no events
    std::string eventName;  // NAME of --event-every
    FaultOptions faults;
    Replay* replay = nullptr; // answers requests from a trace when set
    // The bytes all unfinished requests together may hold: a request that
    // would take the total past it is refused and its connection closed.
    std::size_t requestMemory = kDefaultRequestMemory;
};

class Server {
public:
    Server(Model& model, ServerSettings settings);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool listen(std::string* error);
    // Serves until `stop` becomes true (looked at every few tens of
    // milliseconds; a signal handler may set it), then closes every
    // connection and joins every thread.
    void run(const std::atomic<bool>& stop);

private:
    struct Worker {
        std::thread thread;
        platform::SocketHandle socket = platform::kInvalidSocket;
        std::atomic<bool> done{false};
    };

    void serveConnection(Worker* worker, std::string peer);
    // Answers one request; false when the connection is to be closed.
    bool answer(platform::SocketHandle socket, const std::string& peer, std::string_view request, int* faultCount);
    // Keeps a connection open without answering (the stall fault).
    void stall(platform::SocketHandle socket);
    void sendEndlessText(platform::SocketHandle socket, const std::string& peer, std::string_view name);
    void notifyScenarioEnd(const FinishedScenario& finished);
    // Sends the next event to the client that connected last, when one has
    // connected and the one before has been answered.
    void sendEventIfDue(Clock::time_point now);
    void startWorker(platform::SocketHandle socket, std::function<void(Worker*)> body);
    void reapWorkers(bool all);

    Model& model_;
    ServerSettings settings_;
    platform::SocketHandle listening_ = platform::kInvalidSocket;
    std::atomic<bool> stopping_{false};
    std::mutex workersMutex_;
    std::list<std::unique_ptr<Worker>> workers_;
    RequestMemory requestMemory_;
    std::mutex latestClientMutex_;
    std::string latestClient_;           // the address of the client that connected last
    Clock::time_point nextEvent_{};
    int32_t eventsSent_ = 0;
    std::atomic<bool> eventInFlight_{false};
};

// Sends one message to address:port from the local address `from` (the
// emulator's own, so that a client of several emulators sees whose callback
// it is; 0.0.0.0 lets the system choose) and returns the answer (empty on
// failure). Connect, send and receive each give up after `timeoutMs`.
std::string sendCallback(const std::string& from, const std::string& address, int port, std::string_view message,
                         int timeoutMs);

// Prints one line to standard output, whole, from any thread.
void printLine(std::string_view line);
// The same on standard error.
void printErrorLine(std::string_view line);

struct Answer;
// "tqbse-emulator: NAME -> CODE: REASON", the line a refusal is logged with.
std::string refusalLine(const Answer& answer);

} // namespace tqbse::emu
