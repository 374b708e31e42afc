/* tqbse_session.h: several servers from one program, and their events.
 *
 * A session is one connection to one server. Open as many as the program
 * needs, to as many servers; each has its own lock, so calls on different
 * sessions run in parallel while calls on one session are served one after
 * another, each with its own reply. Every remote export of
 * tqBsePluginControlDll.h has a session twin below, tqbse_<Name>, with the
 * session first and otherwise the same parameters, rules and codes. The
 * flat exports keep working as they always did: they are the default
 * session, which Initialise opens and Shutdown closes, and a program may use
 * it beside sessions of its own.
 *
 * Events. The process has one callback listener (port 6009), started by
 * the first Initialise or tqbse_open that reaches its server. Every message
 * a server sends it is an event of the session whose server has the
 * message's sender address (if several sessions share one server, the one
 * opened first takes its events; when it closes, the next one does). The
 * default session takes no events: messages from a server no session takes
 * are answered -8 (function not found) as they always were. An event goes
 * to the session's handler for its name (the text before "="), else to its
 * handler for all names, else onto its queue, where tqbse_wait_event finds
 * it: a queued event is answered 0 at once; a handled one with the
 * handler's result.
 *
 * Threads and lifetimes. Any thread may call any function on any session.
 * tqbse_close is a session's last use: it ends a call another thread waits
 * in (-14) and every tqbse_wait_event on it (-14), waits for its running
 * event handler to return (unless called from that handler), then frees
 * the session; no thread may use the session once tqbse_close has begun,
 * except those it ends. Handlers run on the listener thread, one at a time
 * for all sessions: a handler that takes long holds back every server's
 * events. A handler may call any function, flat or of any session (its own
 * included, tqbse_close among them). Message texts handed to a handler belong to the library and are
 * valid until it returns; user data belongs to the caller, who may free it
 * once tqbse_set_event_handler replacing the handler or tqbse_close has
 * returned.
 */
#ifndef TQBSE_SESSION_H
#define TQBSE_SESSION_H

#include "tqBsePluginControlDll.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A session, opaque to its users. */
typedef struct tqbse_session tqbse_session;

/* How tqbse_open connects. A zero member means the library's default. */
typedef struct tqbse_options {
    /* Reply deadline in milliseconds for each call on the session, as
     * TQBSE_REPLY_TIMEOUT_MS is for the flat exports: once it expires the
     * call returns -14 and the session's connection is dropped (every later
     * call then returns -14 at once). 0: as TQBSE_REPLY_TIMEOUT_MS says when
     * the session opens (no deadline when it is unset); < 0: no deadline. */
    int32_t reply_timeout_ms;
    /* How long connecting may take, in milliseconds. 0: 10 s. */
    int32_t connect_timeout_ms;
} tqbse_options;

/* Queued events a session keeps; when full, the oldest is dropped. */
#define TQBSE_EVENT_QUEUE_LENGTH 256

/* Connects to the server at ADDRESS (dotted IPv4 text or a host name),
 * port 6002, makes sure the callback listener runs, and announces the
 * connection (RemoteConnection_Set with -1). OPTIONS may be NULL. Returns the
 * announcement's result, with *SESSION the new session when it is not
 * negative. On a negative result (-14 when the server cannot be reached,
 * the server's own code when it refused the announcement, -1 for a NULL
 * address or session pointer) *SESSION is NULL (when not a NULL pointer)
 * and nothing is left open.
 * Codes: 0 -1 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqbse_open(const char* address, const tqbse_options* options, tqbse_session** session);

/* Announces the end (RemoteConnection_Set with 0), closes the connection,
 * ends the session's waits, waits for its running handler, frees it.
 * Returns 0, or -1 for a NULL session or when the socket layer failed to
 * close (the session is freed all the same). */
TQBSE_API int32_t tqbse_close(tqbse_session* session);

/* Called on the listener thread with an event's MESSAGE (LENGTH bytes, a
 * terminating zero after them) and the USER pointer given with it. Its
 * result is the code the server's message is answered with. */
typedef int32_t (*tqbse_event_handler)(tqbse_session* session, const char* message, int32_t length, void* user);

/* Sets the handler for the events named NAME, or for all names when NAME is
 * NULL; a handler for a name wins over the one for all names. A NULL FN
 * removes the handler (its events go to the queue again). On return the
 * handler replaced is no longer running (unless this is called from it).
 * Returns 0; -1 for a NULL session. */
TQBSE_API int32_t tqbse_set_event_handler(tqbse_session* session, const char* name, tqbse_event_handler fn,
                                          void* user);

/* Takes the oldest queued event: its text and a terminating zero into
 * BUFFER (BUFFERSIZE bytes), its length without the zero into *LENGTH.
 * TIMEOUT_MS: how long to wait for one, < 0 until one comes or the session
 * closes, 0 not at all. Returns 0; -13 when BUFFER cannot hold it (the event
 * stays queued and *LENGTH says its length; a NULL buffer with size 0 asks
 * just that); -14 when none came in time or the session was closed; -1 for
 * a NULL session, or a NULL buffer with a positive size. */
TQBSE_API int32_t tqbse_wait_event(tqbse_session* session, int32_t timeout_ms, char* buffer, int32_t bufferSize,
                                   int32_t* length);

/* How many events the session's full queue has dropped since it opened.
 * Returns 0; -1 for a NULL session or count. */
TQBSE_API int32_t tqbse_events_dropped(tqbse_session* session, uint64_t* count);

/* BEGIN GENERATED SESSION EXPORTS */
/* Generated from the call rows (protocol/rows/): `cmake --build build --target header_docs`
 * writes them here. Each is its flat export of tqBsePluginControlDll.h (same name after
 * the prefix) on SESSION's server: same parameters, rules and codes; -1 for a NULL session. */

/* ---- Connection --------------------------------------------------------- */
TQBSE_API int32_t tqbse_RemoteConnection_Set(tqbse_session* session, int32_t state);

/* ---- Result-code texts -------------------------------------------------- */
TQBSE_API int32_t tqbse_GetErrorMsgLength(tqbse_session* session, int32_t code, int32_t* length);
TQBSE_API int32_t tqbse_GetErrorMsg(tqbse_session* session, int32_t code, char* buffer, int32_t bufferSize);

/* ---- Server queries ----------------------------------------------------- */
TQBSE_API int32_t tqbse_GetServerVersion(tqbse_session* session, int32_t* version);
TQBSE_API int32_t tqbse_FullProtocolReset(tqbse_session* session);
TQBSE_API int32_t tqbse_ConnectionStatus_Get(tqbse_session* session, int32_t* connected);

/* ---- RF settings and measurement state ---------------------------------- */
TQBSE_API int32_t tqbse_RX_CentreFrequency_Set(tqbse_session* session, int32_t index, double frequency);
TQBSE_API int32_t tqbse_RX_CentreFrequency_Get(tqbse_session* session, int32_t index, double* frequency);
TQBSE_API int32_t tqbse_RX_InputLevel_Set(tqbse_session* session, int32_t index, float level);
TQBSE_API int32_t tqbse_RX_InputLevel_Get(tqbse_session* session, int32_t index, float* level);
TQBSE_API int32_t tqbse_TX_CentreFrequency_Set(tqbse_session* session, int32_t index, double frequency);
TQBSE_API int32_t tqbse_TX_CentreFrequency_Get(tqbse_session* session, int32_t index, double* frequency);
TQBSE_API int32_t tqbse_TX_ReferenceLevel_Set(tqbse_session* session, int32_t index, float level);
TQBSE_API int32_t tqbse_TX_ReferenceLevel_Get(tqbse_session* session, int32_t index, float* level);
TQBSE_API int32_t tqbse_LoggingState_Set(tqbse_session* session, int32_t state);
TQBSE_API int32_t tqbse_LoggingState_Get(tqbse_session* session, int32_t* state);
TQBSE_API int32_t tqbse_RFMeasurement_State_Set(tqbse_session* session, int32_t state);
TQBSE_API int32_t tqbse_RFMeasurement_State_Get(tqbse_session* session, int32_t* state);
TQBSE_API int32_t tqbse_ADCOverloaded_Get(tqbse_session* session, int32_t index, int32_t* overloaded);

/* ---- Test cases --------------------------------------------------------- */
TQBSE_API int32_t tqbse_TestCase_Count_Get(tqbse_session* session, int32_t* count);
TQBSE_API int32_t tqbse_TestCase_NameLength_Get(tqbse_session* session, int32_t index, int32_t* length);
TQBSE_API int32_t tqbse_TestCase_Name_Get(tqbse_session* session, int32_t index, char* buffer, int32_t bufferSize);
TQBSE_API int32_t tqbse_TestCase_GroupNameLength_Get(tqbse_session* session, int32_t index, int32_t* length);
TQBSE_API int32_t tqbse_TestCase_GroupName_Get(tqbse_session* session, int32_t index, char* buffer, int32_t bufferSize);
TQBSE_API int32_t tqbse_TestCase_Run(tqbse_session* session, int32_t index);

/* ---- Protocol measurement and results ----------------------------------- */
TQBSE_API int32_t tqbse_Protocol_MeasurementEnabled_Set(tqbse_session* session, int32_t index, int32_t enabled);
TQBSE_API int32_t tqbse_Protocol_MeasurementEnabled_Get(tqbse_session* session, int32_t index, int32_t* enabled);
TQBSE_API int32_t tqbse_Protocol_Results_Available_Get(tqbse_session* session, int32_t* available);
TQBSE_API int32_t tqbse_Protocol_Results_GetHandle(tqbse_session* session, int32_t* handle);
TQBSE_API int32_t tqbse_Results_DeleteHandle(tqbse_session* session, int32_t handle);
TQBSE_API int32_t tqbse_Protocol_Results_GetTraceLength(tqbse_session* session, int32_t handle, int32_t trace,
                                                        int32_t* length);
TQBSE_API int32_t tqbse_Protocol_Results_GetTrace(tqbse_session* session, int32_t handle, int32_t trace,
                                                  double* xValues, double* yValues, int32_t capacity);
TQBSE_API int32_t tqbse_Protocol_Results_GetResultItem(tqbse_session* session, int32_t handle, int32_t item,
                                                       double* firstValue, double* secondValue);

/* ---- LTE measurement and results ---------------------------------------- */
TQBSE_API int32_t tqbse_LTE_MeasurementEnabled_Set(tqbse_session* session, int32_t index, int32_t measurement,
                                                   int32_t enabled);
TQBSE_API int32_t tqbse_LTE_MeasurementEnabled_Get(tqbse_session* session, int32_t index, int32_t measurement,
                                                   int32_t* enabled);
TQBSE_API int32_t tqbse_LTE_Results_Available_Get(tqbse_session* session, int32_t index, int32_t* available);
TQBSE_API int32_t tqbse_LTE_Results_GetHandle(tqbse_session* session, int32_t index, int32_t* handle);
TQBSE_API int32_t tqbse_LTE_Results_Cell_Get(tqbse_session* session, int32_t handle, int32_t* cell);
TQBSE_API int32_t tqbse_LTE_Results_GetTraceLength(tqbse_session* session, int32_t handle, int32_t trace,
                                                   int32_t* length);
TQBSE_API int32_t tqbse_LTE_Results_GetTrace(tqbse_session* session, int32_t handle, int32_t trace, double* xValues,
                                             double* yValues, int32_t capacity);
TQBSE_API int32_t tqbse_LTE_Results_Evm_Rms_Get(tqbse_session* session, int32_t handle, float* value);
TQBSE_API int32_t tqbse_LTE_Results_Evm_Carrier_Get(tqbse_session* session, int32_t handle, float* value);
TQBSE_API int32_t tqbse_LTE_Results_Evm_NonAllocatedCarriers_Get(tqbse_session* session, int32_t handle, float* value);
TQBSE_API int32_t tqbse_LTE_Results_FreqError_Get(tqbse_session* session, int32_t handle, float* value);
TQBSE_API int32_t tqbse_LTE_Results_CarrierLeak_Get(tqbse_session* session, int32_t handle, float* value);
TQBSE_API int32_t tqbse_LTE_Results_SymbolClkError_Get(tqbse_session* session, int32_t handle, float* value);
TQBSE_API int32_t tqbse_LTE_Results_IQGainImbalance_Get(tqbse_session* session, int32_t handle, float* value);
TQBSE_API int32_t tqbse_LTE_Results_IQSkew_Get(tqbse_session* session, int32_t handle, float* value);

/* ---- Scenarios ---------------------------------------------------------- */
TQBSE_API int32_t tqbse_Scenario_Count_Get(tqbse_session* session, int32_t* count);
TQBSE_API int32_t tqbse_Scenario_NameLength_Get(tqbse_session* session, int32_t index, int32_t* length);
TQBSE_API int32_t tqbse_Scenario_Name_Get(tqbse_session* session, int32_t index, char* buffer, int32_t bufferSize);
TQBSE_API int32_t tqbse_Scenario_Upload(tqbse_session* session, const char* name, int32_t nameLimit,
                                        const char* content, int32_t contentLimit);
TQBSE_API int32_t tqbse_Scenario_DownloadSize_Get(tqbse_session* session, const char* name, int32_t nameLimit,
                                                  int32_t* size);
TQBSE_API int32_t tqbse_Scenario_Download(tqbse_session* session, const char* name, int32_t nameLimit, char* buffer,
                                          int32_t bufferSize);
TQBSE_API int32_t tqbse_Scenario_Execute(tqbse_session* session, const char* name, int32_t nameLimit);
TQBSE_API int32_t tqbse_Scenario_IsRunning_Get(tqbse_session* session, int32_t* running);

/* ---- Debug filters ------------------------------------------------------ */
TQBSE_API int32_t tqbse_DebugFilters_GetCount(tqbse_session* session, int32_t* count);
TQBSE_API int32_t tqbse_DebugFilters_NameLength_Get(tqbse_session* session, int32_t index, int32_t* length);
TQBSE_API int32_t tqbse_DebugFilters_Name_Get(tqbse_session* session, int32_t index, char* buffer, int32_t bufferSize);
TQBSE_API int32_t tqbse_DebugFilters_State_Set(tqbse_session* session, const char* name, int32_t nameLimit,
                                               int32_t state);
TQBSE_API int32_t tqbse_DebugFilters_State_Get(tqbse_session* session, const char* name, int32_t nameLimit,
                                               int32_t* state);
TQBSE_API int32_t tqbse_DebugFilters_AcceptChanges(tqbse_session* session);
TQBSE_API int32_t tqbse_DebugFilters_RejectChanges(tqbse_session* session);

/* ---- Protocol message XML files and system parameter files -------------- */
TQBSE_API int32_t tqbse_ProtocolMessageXml_Count_Get(tqbse_session* session, int32_t* count);
TQBSE_API int32_t tqbse_ProtocolMessageXml_NameLength_Get(tqbse_session* session, int32_t index, int32_t* length);
TQBSE_API int32_t tqbse_ProtocolMessageXml_Name_Get(tqbse_session* session, int32_t index, char* buffer,
                                                    int32_t bufferSize);
TQBSE_API int32_t tqbse_ProtocolMessageXml_Upload(tqbse_session* session, const char* name, int32_t nameLimit,
                                                  const char* content, int32_t contentLimit);
TQBSE_API int32_t tqbse_ProtocolMessageXml_DownloadSize_Get(tqbse_session* session, const char* name, int32_t nameLimit,
                                                            int32_t* size);
TQBSE_API int32_t tqbse_ProtocolMessageXml_Download(tqbse_session* session, const char* name, int32_t nameLimit,
                                                    char* buffer, int32_t bufferSize);
TQBSE_API int32_t tqbse_SystemParamFile_Count_Get(tqbse_session* session, int32_t* count);
TQBSE_API int32_t tqbse_SystemParamFile_NameLength_Get(tqbse_session* session, int32_t index, int32_t* length);
TQBSE_API int32_t tqbse_SystemParamFile_Name_Get(tqbse_session* session, int32_t index, char* buffer,
                                                 int32_t bufferSize);
/* END GENERATED SESSION EXPORTS */

#ifdef __cplusplus
}
#endif

#endif /* TQBSE_SESSION_H */
