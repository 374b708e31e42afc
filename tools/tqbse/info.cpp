// `tqbse info`: what a support request needs to know about this host and
// the server.
#include "commands.h"
#include "output.h"

#include <tqBsePluginControlDll.h>

#include "platform/host.h"
#include "protocol/ports.h"
#include "protocol/version.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace tqbse::cli {
namespace {

constexpr int kRoundTrips = 20;

// The file the library was really loaded from.
std::string libraryPath()
{
    return platform::modulePath(reinterpret_cast<const void*>(&tqBsePluginControlDll_Initialise));
}

} // namespace

void printVersion(FILE* out)
{
    // The real file behind the soname link: its name ends in the full version.
    std::string path = libraryPath();
    std::error_code error;
    const std::filesystem::path file = std::filesystem::canonical(path, error);
    if (!error)
        path = file.string();
    std::fputs(programVersionLine("tqbse", TQBSE_BUILD_TEXT).c_str(), out);
    std::fprintf(out, "library %s, loaded from %s\n", versionText().c_str(), path.c_str());
}

int runInfo(FILE* out, const Options& options, bool ownConnection)
{
    const std::string libVersion = versionText();
    bool timedOut = false;
    const int32_t connectCode = connectServer(options, &timedOut);
    const bool connected = connectCode != TQBSE_NO_RESPONSE;

    int32_t version[4] = {0, 0, 0, 0};
    int32_t versionCode = TQBSE_NO_RESPONSE, status = 0, statusCode = TQBSE_NO_RESPONSE;
    double medianMs = -1;
    int failures = 0;
    if (connected) {
        versionCode = tqBsePluginControlDll_GetServerVersion(version);
        statusCode = tqBsePluginControlDll_ConnectionStatus_Get(&status);
        std::vector<double> times;
        for (int i = 0; i < kRoundTrips; ++i) {
            int32_t flag = 0;
            const auto start = std::chrono::steady_clock::now();
            const int32_t rc = tqBsePluginControlDll_ConnectionStatus_Get(&flag);
            const auto stop = std::chrono::steady_clock::now();
            if (rc < 0) {
                ++failures;
                continue;
            }
            times.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
        }
        if (!times.empty()) {
            std::sort(times.begin(), times.end());
            const size_t m = times.size() / 2;
            medianMs = times.size() % 2 ? times[m] : (times[m - 1] + times[m]) / 2;
        }
    }
    // Our own listener: another program holding the port does not count.
    const bool listening = platform::isListeningHere(kListenerPort);
    const std::string serverVersion = std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
                                      std::to_string(version[2]) + "." + std::to_string(version[3]);
    const std::string versionNote =
        versionCode < 0 ? errorText(versionCode) : versionCode > 0 ? errorText(versionCode) : std::string();

    if (options.json) {
        std::string j = "{\"libraryVersion\":" + jsonString(libVersion) + ",\"libraryPath\":" +
                        jsonString(libraryPath()) + ",\"server\":" + jsonString(options.server) +
                        ",\"port\":6002,\"connected\":" + (connected ? "true" : "false") +
                        ",\"connectResult\":" + std::to_string(connectCode);
        if (versionCode >= 0)
            j += ",\"serverVersion\":" + jsonString(serverVersion);
        j += ",\"versionResult\":" + std::to_string(versionCode) + ",\"versionNote\":" + jsonString(versionNote);
        j += ",\"connectionStatus\":" + (statusCode >= 0 ? std::to_string(status) : std::string("null"));
        j += ",\"medianRoundTripMs\":" + (medianMs >= 0 ? jsonNumber(medianMs) : std::string("null")) +
             ",\"roundTrips\":" + std::to_string(connected ? kRoundTrips - failures : 0);
        j += std::string(",\"callbackPort\":6009,\"callbackListening\":") + (listening ? "true" : "false") + "}\n";
        std::fputs(j.c_str(), out);
    } else {
        std::fprintf(out, "library version      %s (%s)\n", libVersion.c_str(), libraryPath().c_str());
        std::fprintf(out, "server address       %s port 6002\n", options.server.c_str());
        if (!connected && timedOut) {
            std::fprintf(out, "connection           no reply within %d ms (--timeout)\n", options.timeoutMs);
        } else if (!connected) {
            std::fprintf(out, "connection           unreachable: %d %s\n", connectCode, errorText(connectCode).c_str());
        } else {
            std::fprintf(out, "connection           connected (Initialise returned %d)\n", connectCode);
            if (versionCode < 0)
                std::fprintf(out, "server version       unknown: %d %s\n", versionCode, versionNote.c_str());
            else if (versionCode == 0)
                std::fprintf(out, "server version       %s (same as the library)\n", serverVersion.c_str());
            else
                std::fprintf(out, "server version       %s: %s\n", serverVersion.c_str(), versionNote.c_str());
            if (statusCode < 0)
                std::fprintf(out, "connection status    unknown: %d %s\n", statusCode, errorText(statusCode).c_str());
            else
                std::fprintf(out, "connection status    %d (%s)\n", status, status ? "connected" : "not connected");
            if (medianMs >= 0)
                std::fprintf(out, "round trip           median %.3f ms over %d calls\n", medianMs,
                             kRoundTrips - failures);
            else
                std::fprintf(out, "round trip           no call succeeded\n");
        }
        std::fprintf(out, "callback port 6009   %s\n",
                     listening ? "listening (this process)" : "not listening (bind failed or not connected)");
    }
    std::fflush(out);
    if (ownConnection && connected)
        tqBsePluginControlDll_Shutdown();
    if (!connected && timedOut) {
        std::fprintf(stderr, "tqbse: no complete reply from %s within %d ms (--timeout)\n", options.server.c_str(),
                     options.timeoutMs);
        return kExitTimedOut;
    }
    if (!connected) {
        std::fprintf(stderr, "tqbse: check the server address %s (--server A.B.C.D) and that the server runs\n",
                     options.server.c_str());
        return kExitUnreachable;
    }
    return (versionCode < 0 || statusCode < 0 || failures > 0) ? kExitFailed : kExitOk;
}

} // namespace tqbse::cli
