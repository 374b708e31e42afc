// The emulator's TCP server: one listening socket, a thread per client,
// each request answered whole before that connection's next one is read.
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "emulator/faults.h"
#include "emulator/model.h"

namespace tqbse::emu {

// Quiet time after which bytes that never formed a complete request are
// taken as the request.
inline constexpr int kRequestQuietMs = 200;
// A connection whose request grows beyond this is closed.
inline constexpr qsizetype kMaxRequestBytes = qsizetype(512) << 20;

struct ServerSettings {
    QByteArray bind = "127.0.0.1";
    int port = 6002;
    bool trace = false;
    bool callbackOnScenarioEnd = false;
    int callbackPort = 6009;
    FaultOptions faults;
};

class Server {
public:
    Server(Model& model, ServerSettings settings);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool listen(QString* error);
    // Serves until `stopFd` becomes readable, then closes every connection
    // and joins every thread.
    void run(int stopFd);

private:
    struct Worker {
        std::thread thread;
        int fd = -1;
        std::atomic<bool> done{false};
    };

    void serveClient(Worker* worker, QByteArray peer);
    // Answers one request; false when the connection is to be closed.
    bool answer(int fd, const QByteArray& peer, QByteArrayView request, int* faultCount);
    void notifyScenarioEnd(const FinishedScenario& finished);
    void startWorker(int fd, std::function<void(Worker*)> body);
    void reapWorkers(bool all);

    Model& model_;
    ServerSettings settings_;
    int listenFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::mutex workersMutex_;
    std::list<std::unique_ptr<Worker>> workers_;
};

// Sends one message to address:port and returns the answer (empty on
// failure). Connect, send and receive each give up after `timeoutMs`.
QByteArray sendCallback(const QByteArray& address, int port, const QByteArray& message, int timeoutMs);

// Prints one line to standard output, whole, from any thread.
void printLine(const QByteArray& line);

} // namespace tqbse::emu
