/*
 * Example host program: drives the base-station emulator through every
 * family of calls and prints a readable report.
 *
 *   tqbse_example [A.B.C.D [E.F.G.H]]      (default 127.0.0.1)
 *
 * The walk runs on the flat exports (the library's default session) with
 * the server at A.B.C.D. Beside it, a session of its own (tqbse_session.h)
 * with the server at E.F.G.H, or with A.B.C.D again when only one address
 * is given: it shows a second server's values next to the first's, and it
 * takes that server's events, such as the ScenarioFinished message a
 * scenario's end brings, which the default session does not.
 *
 * Exits 0 only if every step returned a non-negative result code.
 * Build: cc host_example.c $(pkg-config --cflags --libs tqBsePluginControlDll)
 */
#include <tqBsePluginControlDll.h>
#include <tqbse_session.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static int g_failures = 0;

/* Prints one step's outcome; a negative code counts as a failure and is
 * shown with its text. Returns non-zero when the step succeeded. */
static int step(const char* what, int32_t rc)
{
    if (rc >= 0) {
        printf("  [ok]   %-44s %s\n", what, rc > 0 ? "(warning)" : "");
        return 1;
    }
    char text[256] = "";
    tqBsePluginControlDll_GetErrorMsg(rc, text, (int32_t)sizeof text);
    printf("  [FAIL] %-44s %d %s\n", what, (int)rc, text);
    ++g_failures;
    return 0;
}

static void sleepMs(long ms)
{
    struct timespec t;
    t.tv_sec = ms / 1000;
    t.tv_nsec = (ms % 1000) * 1000000L;
    nanosleep(&t, NULL);
}

/* Waits (at most maxMs) until *flag reads non-zero; poll() is a getter. */
static int32_t waitForFlag(int32_t (*poll)(int32_t*), int32_t wanted, long maxMs, int32_t* flag)
{
    int32_t rc = 0;
    long waited;
    for (waited = 0; waited <= maxMs; waited += 100) {
        rc = poll(flag);
        if (rc < 0 || ((*flag != 0) == (wanted != 0)))
            return rc;
        sleepMs(100);
    }
    return rc;
}

/* Waits (at most maxMs) for the event NAME on SESSION, its text into
 * BUFFER; other events are skipped. A server that sends no such event is
 * recognised by asking, after each quiet slice of two seconds, whether the
 * scenario still runs: *event is then 0. */
static int32_t waitForScenarioEnd(tqbse_session* session, long maxMs, char* buffer, int32_t size, int* event)
{
    int32_t rc = 0, length = 0, running = 1;
    long waited;
    *event = 0;
    for (waited = 0; waited < maxMs; waited += 2000) {
        for (;;) {
            rc = tqbse_wait_event(session, 2000, buffer, size, &length);
            if (rc == -13) {
                /* Too long for the buffer, so not the one waited for: take
                 * it off the queue into one that fits. */
                char* longer = malloc((size_t)length + 1);
                rc = longer ? tqbse_wait_event(session, 0, longer, length + 1, &length) : -13;
                free(longer);
                if (rc == 0)
                    continue;
            }
            if (rc != 0)
                break;
            if (strncmp(buffer, "ScenarioFinished=", 17) == 0) {
                *event = 1;
                return 0;
            }
        }
        if (rc != -14)
            return rc;
        rc = tqBsePluginControlDll_Scenario_IsRunning_Get(&running);
        if (rc < 0 || !running)
            return rc;
    }
    return -14;
}

static int32_t scenarioRunning(int32_t* flag) { return tqBsePluginControlDll_Scenario_IsRunning_Get(flag); }
static int32_t protocolAvailable(int32_t* flag) { return tqBsePluginControlDll_Protocol_Results_Available_Get(flag); }
static int32_t lteAvailable(int32_t* flag) { return tqBsePluginControlDll_LTE_Results_Available_Get(0, flag); }

int main(int argc, char** argv)
{
    int a = 127, b = 0, c = 0, d = 1;
    char extra;
    if (argc > 3 || (argc > 1 && sscanf(argv[1], "%d.%d.%d.%d%c", &a, &b, &c, &d, &extra) != 4)) {
        fprintf(stderr, "usage: %s [A.B.C.D [E.F.G.H]]\n", argv[0]);
        return 2;
    }
    const char* second = argc > 2 ? argv[2] : argc > 1 ? argv[1] : "127.0.0.1";
    printf("Base-station emulator host example, server %d.%d.%d.%d\n", a, b, c, d);

    /* Connect: opens port 6002 and starts the callback listener (6009). */
    printf("Connection\n");
    if (!step("Initialise", tqBsePluginControlDll_Initialise(a, b, c, d))) {
        printf("RESULT: FAILED (no connection; check the address)\n");
        return 1;
    }

    /* 1 or 2 are warnings: the versions differ but calls still work. */
    int32_t version[4] = {0, 0, 0, 0};
    int32_t rc = tqBsePluginControlDll_GetServerVersion(version);
    step("GetServerVersion", rc);
    printf("         server %d.%d.%d.%d, library %d.%d.%d.%d%s\n", (int)version[0], (int)version[1],
           (int)version[2], (int)version[3], TQBSE_VERSION_MAJOR, TQBSE_VERSION_MINOR, TQBSE_VERSION_PATCH,
           TQBSE_VERSION_BUILD, rc > 0 ? " (versions differ)" : "");

    /* Tune receiver and transmitter path 0 and read the settings back. */
    printf("RF settings\n");
    step("RX_CentreFrequency_Set 1.95 GHz", tqBsePluginControlDll_RX_CentreFrequency_Set(0, 1.95e9));
    step("RX_InputLevel_Set -50 dBm", tqBsePluginControlDll_RX_InputLevel_Set(0, -50.0f));
    step("TX_CentreFrequency_Set 2.14 GHz", tqBsePluginControlDll_TX_CentreFrequency_Set(0, 2.14e9));
    step("TX_ReferenceLevel_Set -20 dBm", tqBsePluginControlDll_TX_ReferenceLevel_Set(0, -20.0f));
    double rxFreq = 0, txFreq = 0;
    float rxLevel = 0, txLevel = 0;
    step("RX_CentreFrequency_Get", tqBsePluginControlDll_RX_CentreFrequency_Get(0, &rxFreq));
    step("RX_InputLevel_Get", tqBsePluginControlDll_RX_InputLevel_Get(0, &rxLevel));
    step("TX_CentreFrequency_Get", tqBsePluginControlDll_TX_CentreFrequency_Get(0, &txFreq));
    step("TX_ReferenceLevel_Get", tqBsePluginControlDll_TX_ReferenceLevel_Get(0, &txLevel));
    printf("         RX %.0f Hz at %.1f dBm, TX %.0f Hz at %.1f dBm\n", rxFreq, rxLevel, txFreq, txLevel);

    /* A session of its own, beside the default session the flat exports
     * use: the same calls with the session first. It takes its server's
     * events from now on. */
    printf("Sessions\n");
    tqbse_session* session = NULL;
    if (step("tqbse_open (second server)", tqbse_open(second, NULL, &session))) {
        double own = 0;
        step("tqbse_TX_CentreFrequency_Set 1 2.4 GHz", tqbse_TX_CentreFrequency_Set(session, 1, 2.4e9));
        step("tqbse_TX_CentreFrequency_Get 1", tqbse_TX_CentreFrequency_Get(session, 1, &own));
        step("TX_CentreFrequency_Get 1", tqBsePluginControlDll_TX_CentreFrequency_Get(1, &txFreq));
        printf("         TX path 1: %.0f Hz on the session's server %s, %.0f Hz on the default session's%s\n", own,
               second, txFreq, argc > 2 ? "" : " (the same server)");
    }

    /* List the test cases (name and group) and run the first one. */
    printf("Test cases\n");
    int32_t count = 0;
    char name[256], group[256];
    step("TestCase_Count_Get", tqBsePluginControlDll_TestCase_Count_Get(&count));
    for (int32_t i = 0; i < count && i < 20; ++i) {
        if (step("TestCase_Name_Get", tqBsePluginControlDll_TestCase_Name_Get(i, name, sizeof name))
            && step("TestCase_GroupName_Get", tqBsePluginControlDll_TestCase_GroupName_Get(i, group, sizeof group)))
            printf("         %d: %s (%s)\n", (int)i, name, group);
    }
    if (count > 0)
        step("TestCase_Run 0", tqBsePluginControlDll_TestCase_Run(0));

    /* Upload a scenario, read it back, run it and wait until it stops.
     * Texts come with a limit: pass their length. */
    printf("Scenarios\n");
    const char* scenarioName = "example_attach";
    const char* scenario = "<scenario><step>attach</step><step>detach</step></scenario>";
    step("Scenario_Upload", tqBsePluginControlDll_Scenario_Upload(scenarioName, (int32_t)strlen(scenarioName),
                                                                 scenario, (int32_t)strlen(scenario)));
    int32_t size = 0;
    if (step("Scenario_DownloadSize_Get",
             tqBsePluginControlDll_Scenario_DownloadSize_Get(scenarioName, (int32_t)strlen(scenarioName), &size))) {
        /* Ask for the size first; one more byte in case it leaves out the terminator. */
        int32_t bufferSize = size + 1;
        char* text = malloc((size_t)bufferSize);
        if (text && step("Scenario_Download", tqBsePluginControlDll_Scenario_Download(
                                                  scenarioName, (int32_t)strlen(scenarioName), text, bufferSize))) {
            int same = strcmp(text, scenario) == 0;
            printf("         downloaded %d bytes, %s the upload\n", (int)strlen(text), same ? "same as" : "DIFFERS from");
            if (!same)
                ++g_failures;
        }
        free(text);
    }
    /* Its end comes as an event, ScenarioFinished=(s=NAME), to the session
     * that has the server (the default session takes no events). */
    step("Scenario_Execute", tqBsePluginControlDll_Scenario_Execute(scenarioName, (int32_t)strlen(scenarioName)));
    if (session && argc <= 2) {
        char event[256] = "";
        int heard = 0;
        if (step("tqbse_wait_event ScenarioFinished (30 s max)",
                 waitForScenarioEnd(session, 30000, event, (int32_t)sizeof event, &heard)))
            printf("         %s\n", heard ? event : "stopped; the server sent no ScenarioFinished");
    } else {
        int32_t running = 0;
        step("Scenario_IsRunning_Get until stopped (30 s max)", waitForFlag(scenarioRunning, 0, 30000, &running));
        if (running) {
            printf("         scenario still running after 30 s\n");
            ++g_failures;
        }
    }

    /* Switch the measurements on. Flags travel unchanged; -1 is true. */
    printf("Measurements\n");
    step("Protocol_MeasurementEnabled_Set 0 on", tqBsePluginControlDll_Protocol_MeasurementEnabled_Set(0, -1));
    step("LTE_MeasurementEnabled_Set 0 0 on", tqBsePluginControlDll_LTE_MeasurementEnabled_Set(0, 0, -1));

    /* Protocol results: take a handle, read an item and a trace, release it. */
    int32_t available = 0, handle = 0, length = 0;
    step("Protocol_Results_Available_Get (10 s max)", waitForFlag(protocolAvailable, 1, 10000, &available));
    if (available && step("Protocol_Results_GetHandle", tqBsePluginControlDll_Protocol_Results_GetHandle(&handle))) {
        double first = 0, second = 0;
        step("Protocol_Results_GetResultItem 0",
             tqBsePluginControlDll_Protocol_Results_GetResultItem(handle, 0, &first, &second));
        printf("         item 0: %g, %g\n", first, second);
        /* A trace: ask its length, then fetch both arrays at that capacity. */
        if (step("Protocol_Results_GetTraceLength 0",
                 tqBsePluginControlDll_Protocol_Results_GetTraceLength(handle, 0, &length)) && length > 0) {
            double* x = malloc(sizeof(double) * (size_t)length);
            double* y = malloc(sizeof(double) * (size_t)length);
            if (x && y && step("Protocol_Results_GetTrace 0",
                               tqBsePluginControlDll_Protocol_Results_GetTrace(handle, 0, x, y, length)))
                printf("         trace 0: %d points, first (%g, %g), last (%g, %g)\n", (int)length, x[0], y[0],
                       x[length - 1], y[length - 1]);
            free(x);
            free(y);
        }
        step("Results_DeleteHandle (protocol)", tqBsePluginControlDll_Results_DeleteHandle(handle));
    } else if (!available) {
        printf("         no protocol results became available\n");
        ++g_failures;
    }

    /* LTE results of path 0: single values through a handle. */
    step("LTE_Results_Available_Get (10 s max)", waitForFlag(lteAvailable, 1, 10000, &available));
    if (available && step("LTE_Results_GetHandle 0", tqBsePluginControlDll_LTE_Results_GetHandle(0, &handle))) {
        float evm = 0, freqError = 0;
        int32_t cell = 0;
        step("LTE_Results_Cell_Get", tqBsePluginControlDll_LTE_Results_Cell_Get(handle, &cell));
        step("LTE_Results_Evm_Rms_Get", tqBsePluginControlDll_LTE_Results_Evm_Rms_Get(handle, &evm));
        step("LTE_Results_FreqError_Get", tqBsePluginControlDll_LTE_Results_FreqError_Get(handle, &freqError));
        printf("         cell %d, EVM rms %.3f %%, frequency error %.3f Hz\n", (int)cell, evm, freqError);
        step("Results_DeleteHandle (LTE)", tqBsePluginControlDll_Results_DeleteHandle(handle));
    } else if (!available) {
        printf("         no LTE results became available\n");
        ++g_failures;
    }

    /* Debug filters: changes are staged, then accepted together. */
    printf("Debug filters\n");
    step("DebugFilters_GetCount", tqBsePluginControlDll_DebugFilters_GetCount(&count));
    if (count > 0 && step("DebugFilters_Name_Get 0", tqBsePluginControlDll_DebugFilters_Name_Get(0, name, sizeof name))) {
        int32_t state = 0;
        step("DebugFilters_State_Set on", tqBsePluginControlDll_DebugFilters_State_Set(name, (int32_t)strlen(name), -1));
        step("DebugFilters_AcceptChanges", tqBsePluginControlDll_DebugFilters_AcceptChanges());
        step("DebugFilters_State_Get", tqBsePluginControlDll_DebugFilters_State_Get(name, (int32_t)strlen(name), &state));
        printf("         filter '%s' state %d\n", name, (int)state);
    }

    /* Protocol message XML files: store one and read it back. */
    printf("Files\n");
    const char* xmlName = "example_message.xml";
    const char* xml = "<message name=\"RRCConnectionRequest\"><ue-Identity>0x1234</ue-Identity></message>";
    step("ProtocolMessageXml_Upload", tqBsePluginControlDll_ProtocolMessageXml_Upload(
                                          xmlName, (int32_t)strlen(xmlName), xml, (int32_t)strlen(xml)));
    if (step("ProtocolMessageXml_DownloadSize_Get",
             tqBsePluginControlDll_ProtocolMessageXml_DownloadSize_Get(xmlName, (int32_t)strlen(xmlName), &size))) {
        char* text = malloc((size_t)size + 1);
        if (text && step("ProtocolMessageXml_Download", tqBsePluginControlDll_ProtocolMessageXml_Download(
                                                            xmlName, (int32_t)strlen(xmlName), text, size + 1))) {
            int same = strcmp(text, xml) == 0;
            printf("         downloaded %d bytes, %s the upload\n", (int)strlen(text), same ? "same as" : "DIFFERS from");
            if (!same)
                ++g_failures;
        }
        free(text);
    }
    step("ProtocolMessageXml_Count_Get", tqBsePluginControlDll_ProtocolMessageXml_Count_Get(&count));
    printf("         %d protocol message XML files\n", (int)count);

    /* System parameter files can only be listed. */
    step("SystemParamFile_Count_Get", tqBsePluginControlDll_SystemParamFile_Count_Get(&count));
    for (int32_t i = 0; i < count && i < 20; ++i)
        if (step("SystemParamFile_Name_Get", tqBsePluginControlDll_SystemParamFile_Name_Get(i, name, sizeof name)))
            printf("         %d: %s\n", (int)i, name);

    /* Shut down: tells the server the remote connection ends. */
    printf("Shutdown\n");
    if (session)
        step("tqbse_close", tqbse_close(session));
    step("Shutdown", tqBsePluginControlDll_Shutdown());

    printf("RESULT: %s (%d failed step%s)\n", g_failures ? "FAILED" : "PASSED", g_failures, g_failures == 1 ? "" : "s");
    return g_failures ? 1 : 0;
}
