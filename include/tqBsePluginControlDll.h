/*
 * tqBsePluginControlDll - remote control of the base-station-emulator plug-in.
 *
 * Every function returns a result code (TQBSE_* below): 0 success, 1 and 2
 * version warnings, negative values failures. All functions except
 * Initialise, Shutdown and TarquelPrivateData_Set send one request over one
 * TCP connection to the server's port 6002 and block until its reply has
 * arrived.
 *
 * Threads: any thread may call. Remote calls are serialised inside the
 * library, so calls from several threads run one after another, each with
 * its own reply. Initialise or Shutdown on one thread while another thread
 * waits in a call ends that call at once with -14 (its reply may never
 * come), then does its work. A call ended with -14 this way, or by the
 * reply deadline below, may or may not have been applied by the server:
 * its request may already have gone out, and the server may apply it even
 * after later calls made on the new connection have returned. After such a
 * -14, read back any setting that matters before relying on it. The library may be unloaded (dlclose,
 * FreeLibrary) at any time after Shutdown, also while the callback listener
 * runs.
 *
 * A reply is taken as the call's own only when it is whole: it holds every
 * token a successful reply to that export carries, or a negative result.
 * Bytes already waiting when a call begins (a stale or duplicated reply)
 * are discarded before its request goes out, and after a reply that fails
 * the checks (-2..-6, -10..-12) the connection is brought back in step
 * before the call returns; so a call never returns a result >= 0 with
 * another call's outputs. A reply larger than the call can deliver (its
 * buffer or capacity in token form, at least 64 KiB) ends the call with
 * -14 and closes the connection.
 *
 * Outputs are written only when the server's result code is not negative,
 * so a positive warning comes back with its outputs written. On failure the
 * outputs are left as they were, except that outputs before the failing one
 * stay written (two-output getters and traces), and a number output whose
 * hex text fails half-way (-6) may hold the bytes decoded before the bad pair.
 *
 * Reply deadline (off by default): when the environment variable
 * TQBSE_REPLY_TIMEOUT_MS holds a positive number of milliseconds at
 * Initialise, every call on that connection gives up with -14 once its
 * exchange (sending the request included) has taken that long. The
 * connection is then closed, and every further remote call returns -14 at
 * once until the next Initialise reconnects, so that a late reply is never
 * taken for the answer to a later call. Unset, empty or 0: calls block until
 * their reply has arrived, and a failed exchange leaves the connection marked
 * connected. Any other value is ignored (said once on standard error).
 *
 * Diagnostics: the socket layer's few texts ("connect() failed: 111",
 * "Accepted client: 127.0.0.1:38032" and the others) go to standard output
 * by default. The environment variable TQBSE_DIAGNOSTICS, read at each
 * Initialise, sends them to "stderr" instead, or "off" silences them;
 * "stdout", unset or empty keep standard output. Any other value keeps
 * standard output (said once on standard error).
 *
 * Common failure codes of every remote call:
 *   -14 no reply (no connection, or it failed; only Initialise reconnects)
 *   -10 the reply names another function     -11 too few reply parameters
 *   -12 the reply's result is not an integer  -2..-6 an output token is malformed
 *   and any negative code the server sends (-8 unknown function, -9 wrong
 *   number of parameters, -7, -18, -19, -20 server failures).
 *   -1 a NULL output: a NULL output pointer, or a NULL buffer or array with
 *      a positive bufferSize or capacity, is refused before anything is
 *      sent. -1 is the library's own unspecified failure, which no server
 *      sends for a particular reason; every other free number may mean
 *      something to the server, which shares the numbering (-15 among them).
 *      A NULL buffer with size 0 is no output to refuse. -1 also when the
 *      library could not allocate memory for a request or reply.
 *
 * Text outputs are written into buffer/bufferSize: the text and its
 * terminating zero (L + 1 bytes) are written, nothing beyond; -13 when they
 * do not fit, the buffer then untouched. A server that answers with the null
 * text "(s=NULL)" is delivered as the empty text (one zero byte when
 * bufferSize >= 1, else -13). bufferSize also travels to the server.
 *
 * Traces fill xValues and yValues, each bounded by capacity (elements): the
 * x array is written before the y array is read, so -11, -13 or a decoder
 * failure on the y array leaves x written and y untouched. A trace whose
 * arrays hold no points ("(da=0[])") is valid and writes nothing. Neither
 * count is returned: ask the matching GetTraceLength first.
 *
 * Text inputs come with a limit (nameLimit, contentLimit) that never
 * travels: a text longer than its limit is left out of the request (which
 * then carries one parameter fewer, so the server usually answers -9), a
 * text of exactly the limit is sent, a negative limit keeps every text out,
 * and a null pointer is sent as the null text. Flags travel unchanged as
 * 32-bit integers (the library itself uses -1 for true). No index, handle
 * or range is checked locally: the server judges them.
 */
#ifndef TQBSEPLUGINCONTROLDLL_H
#define TQBSEPLUGINCONTROLDLL_H

#include <stdint.h>

/* The one export macro: the library's build marks its definitions with it
 * too, and everything else in the shared object stays hidden. */
#if defined(_WIN32) && defined(TQBSE_BUILDING_LIBRARY)
#define TQBSE_API __declspec(dllexport)
#elif defined(_WIN32)
#define TQBSE_API __declspec(dllimport)
#elif defined(__GNUC__)
#define TQBSE_API __attribute__((visibility("default")))
#else
#define TQBSE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Library version, compared with the server's by GetServerVersion. */
#define TQBSE_VERSION_MAJOR 6
#define TQBSE_VERSION_MINOR 0
#define TQBSE_VERSION_PATCH 0
#define TQBSE_VERSION_BUILD 0

/* Result codes. */
#define TQBSE_WARNING_SERVER_NEWER 2         /* server version higher than the library's */
#define TQBSE_WARNING_CLIENT_NEWER 1         /* library version higher than the server's */
#define TQBSE_SUCCESS 0
#define TQBSE_UNKNOWN_ERROR (-1)
#define TQBSE_PARAMETER_FORMAT (-2)          /* token without "=" or unmatched "(" */
#define TQBSE_ARRAY_COUNT (-3)               /* array count is not a decimal integer */
#define TQBSE_ARRAY_LENGTH (-4)              /* array count differs from its elements */
#define TQBSE_PARAMETER_TYPE (-5)            /* token has another tag than expected */
#define TQBSE_PARAMETER_CONTENTS (-6)        /* hex text of a value does not convert */
#define TQBSE_TRANSMISSION_ERROR (-7)        /* server only */
#define TQBSE_FUNCTION_NOT_FOUND (-8)        /* receiver knows no function of that name */
#define TQBSE_PARAMETER_COUNT (-9)           /* server got the wrong number of parameters */
#define TQBSE_REPLY_OUT_OF_ORDER (-10)       /* reply names another function */
#define TQBSE_REPLY_PARAMETER_COUNT (-11)    /* reply carries too few parameters */
#define TQBSE_NO_RESULT_CODE (-12)           /* reply's first parameter is not an integer */
#define TQBSE_BUFFER_TOO_SMALL (-13)         /* caller's buffer or array too small */
#define TQBSE_NO_RESPONSE (-14)              /* no reply: no connection or it failed */
#define TQBSE_BAD_ADDRESS_OCTET (-16)        /* Initialise octet outside 0..255 */
#define TQBSE_NOT_VALID_REMOTELY (-17)       /* function has no remote implementation */
#define TQBSE_INTERNAL_OBJECT_ERROR (-18)    /* server only */
#define TQBSE_SERVER_DLL_NOT_LOADED (-19)    /* server only */
#define TQBSE_UNEXPECTED_PARAMETER_TYPE (-20) /* server only */

/* ---- Connection ------------------------------------------------------- */

/** Connects to the server at octet1.octet2.octet3.octet4, port 6002, and starts the callback listener on port 6009.
 *  Closes an earlier connection and stops its listener first. Returns -16 (and changes nothing) for an octet
 *  outside 0..255, otherwise the result of RemoteConnection_Set(-1): -14 when the server cannot be reached
 *  (connect gives up after 10 s; the reason is printed on standard output). */
TQBSE_API int32_t tqBsePluginControlDll_Initialise(int32_t octet1, int32_t octet2, int32_t octet3, int32_t octet4);

/** Announces the end of the remote connection (RemoteConnection_Set(0)), closes the socket and forgets the
 *  address. The callback listener keeps running. Returns 0 (-1 if the socket layer's clean-up failed). */
TQBSE_API int32_t tqBsePluginControlDll_Shutdown(void);

/** Tells the server that a remote connection opens (state non-zero, the library uses -1) or closes (0).
 *  state is sent unchanged. Returns the server's code. */
TQBSE_API int32_t tqBsePluginControlDll_RemoteConnection_Set(int32_t state);

/* ---- Result-code texts -------------------------------------------------- */

/** Writes to *length the buffer size that code's text needs, terminator included (e.g. 9 for 0). Codes the library
 *  knows are answered locally; others (-16, -15, below -20, above 2) are asked of the server, without the code.
 *  Remote path: server's code, -14, -10, -11, -12, -2, -5, -6. */
TQBSE_API int32_t tqBsePluginControlDll_GetErrorMsgLength(int32_t code, int32_t* length);

/** Copies code's text and a terminating zero into buffer (bufferSize bytes); -13 when they do not fit, buffer
 *  then untouched. Local first, server fallback as for GetErrorMsgLength (neither code nor size is sent). */
TQBSE_API int32_t tqBsePluginControlDll_GetErrorMsg(int32_t code, char* buffer, int32_t bufferSize);

/* ---- Server queries ----------------------------------------------------- */

/** Writes the server's four version components (most significant first) to version[0..3] and compares them
 *  with the library's 6.0.0.0: 0 equal, 1 server older, 2 server newer. A reply without exactly five parameters
 *  gives -11; a negative server code is returned with version untouched; -2/-5/-6 at the first bad component,
 *  the components before it written. */
TQBSE_API int32_t tqBsePluginControlDll_GetServerVersion(int32_t* version);

/** Asks the server for a full protocol reset. Returns the server's code. */
TQBSE_API int32_t tqBsePluginControlDll_FullProtocolReset(void);

/** Writes the server's connection-status flag (its 32-bit value unchanged; 0 is false) to *connected. */
TQBSE_API int32_t tqBsePluginControlDll_ConnectionStatus_Get(int32_t* connected);

/** Not available remotely: always returns -17 and sends nothing; value is not used. */
TQBSE_API int32_t tqBsePluginControlDll_TarquelPrivateData_Set(int32_t value);

/* ---- RF settings and measurement state ---------------------------------- */

/** Sets receiver path index's centre frequency (double, sent unchanged). Returns the server's code. */
TQBSE_API int32_t tqBsePluginControlDll_RX_CentreFrequency_Set(int32_t index, double frequency);
/** Reads receiver path index's centre frequency into *frequency. -5 if the server sends another type. */
TQBSE_API int32_t tqBsePluginControlDll_RX_CentreFrequency_Get(int32_t index, double* frequency);
/** Sets receiver path index's input level (float). Returns the server's code. */
TQBSE_API int32_t tqBsePluginControlDll_RX_InputLevel_Set(int32_t index, float level);
/** Reads receiver path index's input level into *level. -5 if the server sends another type. */
TQBSE_API int32_t tqBsePluginControlDll_RX_InputLevel_Get(int32_t index, float* level);
/** Sets transmitter path index's centre frequency (double). Returns the server's code. */
TQBSE_API int32_t tqBsePluginControlDll_TX_CentreFrequency_Set(int32_t index, double frequency);
/** Reads transmitter path index's centre frequency into *frequency. */
TQBSE_API int32_t tqBsePluginControlDll_TX_CentreFrequency_Get(int32_t index, double* frequency);
/** Sets transmitter path index's reference level (float). Returns the server's code. */
TQBSE_API int32_t tqBsePluginControlDll_TX_ReferenceLevel_Set(int32_t index, float level);
/** Reads transmitter path index's reference level into *level. */
TQBSE_API int32_t tqBsePluginControlDll_TX_ReferenceLevel_Get(int32_t index, float* level);
/** Switches the server's logging on (non-zero, sent unchanged) or off (0). */
TQBSE_API int32_t tqBsePluginControlDll_LoggingState_Set(int32_t state);
/** Reads the server's logging flag, 32-bit value unchanged, into *state. */
TQBSE_API int32_t tqBsePluginControlDll_LoggingState_Get(int32_t* state);
/** Switches the RF measurement on (non-zero, sent unchanged) or off (0). */
TQBSE_API int32_t tqBsePluginControlDll_RFMeasurement_State_Set(int32_t state);
/** Reads the RF measurement flag, unchanged, into *state. */
TQBSE_API int32_t tqBsePluginControlDll_RFMeasurement_State_Get(int32_t* state);
/** Reads path index's analogue-to-digital converter overload flag, unchanged, into *overloaded. */
TQBSE_API int32_t tqBsePluginControlDll_ADCOverloaded_Get(int32_t index, int32_t* overloaded);

/* ---- Test cases ----------------------------------------------------------- */

/** Reads the number of test cases into *count. */
TQBSE_API int32_t tqBsePluginControlDll_TestCase_Count_Get(int32_t* count);
/** Reads the length the server reports for test case index's name into *length (passed on unchanged). */
TQBSE_API int32_t tqBsePluginControlDll_TestCase_NameLength_Get(int32_t index, int32_t* length);
/** Copies test case index's name into buffer (bufferSize bytes, sent to the server too); -13 if it does not fit. */
TQBSE_API int32_t tqBsePluginControlDll_TestCase_Name_Get(int32_t index, char* buffer, int32_t bufferSize);
/** Reads the length the server reports for test case index's group name into *length. */
TQBSE_API int32_t tqBsePluginControlDll_TestCase_GroupNameLength_Get(int32_t index, int32_t* length);
/** Copies test case index's group name into buffer (bufferSize bytes); -13 if it does not fit. */
TQBSE_API int32_t tqBsePluginControlDll_TestCase_GroupName_Get(int32_t index, char* buffer, int32_t bufferSize);
/** Runs test case index; returns when the server replies, with the server's code. */
TQBSE_API int32_t tqBsePluginControlDll_TestCase_Run(int32_t index);

/* ---- Protocol measurement and results ------------------------------------ */

/** Switches protocol measurement index on (non-zero, sent unchanged) or off. */
TQBSE_API int32_t tqBsePluginControlDll_Protocol_MeasurementEnabled_Set(int32_t index, int32_t enabled);
/** Reads protocol measurement index's enabled flag, unchanged, into *enabled. */
TQBSE_API int32_t tqBsePluginControlDll_Protocol_MeasurementEnabled_Get(int32_t index, int32_t* enabled);
/** Reads whether protocol results are available (non-zero) into *available. */
TQBSE_API int32_t tqBsePluginControlDll_Protocol_Results_Available_Get(int32_t* available);
/** Takes a handle on the current protocol results into *handle; release it with Results_DeleteHandle. */
TQBSE_API int32_t tqBsePluginControlDll_Protocol_Results_GetHandle(int32_t* handle);
/** Releases a protocol or LTE results handle. Returns the server's code (negative for a handle it does not know). */
TQBSE_API int32_t tqBsePluginControlDll_Results_DeleteHandle(int32_t handle);
/** Reads the number of points of trace `trace` of the results behind handle into *length. */
TQBSE_API int32_t tqBsePluginControlDll_Protocol_Results_GetTraceLength(int32_t handle, int32_t trace, int32_t* length);
/** Copies trace `trace`'s points into xValues and yValues, each holding capacity elements (capacity is sent too);
 *  -13 when an array has more points than capacity; -3/-4 for a bad array count. See the trace rules above. */
TQBSE_API int32_t tqBsePluginControlDll_Protocol_Results_GetTrace(int32_t handle, int32_t trace, double* xValues,
                                                                 double* yValues, int32_t capacity);
/** Reads result item `item` (two doubles) into *firstValue and *secondValue; -11 after the first leaves it written. */
TQBSE_API int32_t tqBsePluginControlDll_Protocol_Results_GetResultItem(int32_t handle, int32_t item,
                                                                      double* firstValue, double* secondValue);

/* ---- LTE measurement and results ---------------------------------------- */

/** Switches LTE measurement `measurement` of path index on (non-zero, sent unchanged) or off. */
TQBSE_API int32_t tqBsePluginControlDll_LTE_MeasurementEnabled_Set(int32_t index, int32_t measurement, int32_t enabled);
/** Reads LTE measurement `measurement` of path index's enabled flag, unchanged, into *enabled. */
TQBSE_API int32_t tqBsePluginControlDll_LTE_MeasurementEnabled_Get(int32_t index, int32_t measurement, int32_t* enabled);
/** Reads whether LTE results of path index are available (non-zero) into *available. */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_Available_Get(int32_t index, int32_t* available);
/** Takes a handle on path index's current LTE results into *handle; release it with Results_DeleteHandle. */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_GetHandle(int32_t index, int32_t* handle);
/** Reads the cell of the LTE results behind handle into *cell. */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_Cell_Get(int32_t handle, int32_t* cell);
/** Reads the number of points of LTE trace `trace` behind handle into *length. */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_GetTraceLength(int32_t handle, int32_t trace, int32_t* length);
/** Copies LTE trace `trace`'s points into xValues and yValues (capacity elements each, capacity is sent too);
 *  -13 when an array has more points than capacity. See the trace rules above. */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_GetTrace(int32_t handle, int32_t trace, double* xValues,
                                                            double* yValues, int32_t capacity);
/** Reads the RMS error vector magnitude (float) of the results behind handle into *value. */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_Evm_Rms_Get(int32_t handle, float* value);
/** Reads the carrier error vector magnitude (float) into *value. */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_Evm_Carrier_Get(int32_t handle, float* value);
/** Reads the error vector magnitude of non-allocated carriers (float) into *value. */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_Evm_NonAllocatedCarriers_Get(int32_t handle, float* value);
/** Reads the frequency error (float) into *value. */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_FreqError_Get(int32_t handle, float* value);
/** Reads the carrier leakage (float) into *value. */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_CarrierLeak_Get(int32_t handle, float* value);
/** Reads the symbol clock error (float) into *value. */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_SymbolClkError_Get(int32_t handle, float* value);
/** Reads the IQ gain imbalance (float) into *value. */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_IQGainImbalance_Get(int32_t handle, float* value);
/** Reads the IQ skew (float) into *value. */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_IQSkew_Get(int32_t handle, float* value);

/* ---- Scenarios ------------------------------------------------------------ */

/** Reads the number of scenarios into *count. */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_Count_Get(int32_t* count);
/** Reads the length the server reports for scenario index's name into *length. */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_NameLength_Get(int32_t index, int32_t* length);
/** Copies scenario index's name into buffer (bufferSize bytes, sent too); -13 if it does not fit. */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_Name_Get(int32_t index, char* buffer, int32_t bufferSize);
/** Stores content under name on the server (texts longer than their limits are left out of the request).
 *  Content travels unescaped: it comes back intact only if its parentheses balance. */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_Upload(const char* name, int32_t nameLimit, const char* content,
                                                       int32_t contentLimit);
/** Reads the size the server reports for scenario name's text into *size. */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_DownloadSize_Get(const char* name, int32_t nameLimit, int32_t* size);
/** Copies scenario name's text into buffer (bufferSize bytes, sent too); -13 if text and terminator do not fit. */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_Download(const char* name, int32_t nameLimit, char* buffer,
                                                         int32_t bufferSize);
/** Starts scenario name. Returns the server's code. */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_Execute(const char* name, int32_t nameLimit);
/** Reads whether a scenario is running (non-zero, unchanged) into *running. */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_IsRunning_Get(int32_t* running);

/* ---- Debug filters -------------------------------------------------------- */

/** Reads the number of debug filters into *count. */
TQBSE_API int32_t tqBsePluginControlDll_DebugFilters_GetCount(int32_t* count);
/** Reads the length the server reports for filter index's name into *length. */
TQBSE_API int32_t tqBsePluginControlDll_DebugFilters_NameLength_Get(int32_t index, int32_t* length);
/** Copies filter index's name into buffer (bufferSize bytes, sent too); -13 if it does not fit. */
TQBSE_API int32_t tqBsePluginControlDll_DebugFilters_Name_Get(int32_t index, char* buffer, int32_t bufferSize);
/** Sets filter name's state (sent unchanged) as a pending change; apply with AcceptChanges. */
TQBSE_API int32_t tqBsePluginControlDll_DebugFilters_State_Set(const char* name, int32_t nameLimit, int32_t state);
/** Reads filter name's state, unchanged, into *state. */
TQBSE_API int32_t tqBsePluginControlDll_DebugFilters_State_Get(const char* name, int32_t nameLimit, int32_t* state);
/** Applies the pending filter changes held by the server. */
TQBSE_API int32_t tqBsePluginControlDll_DebugFilters_AcceptChanges(void);
/** Discards the pending filter changes held by the server. */
TQBSE_API int32_t tqBsePluginControlDll_DebugFilters_RejectChanges(void);

/* ---- Protocol message XML files and system parameter files --------------- */

/** Reads the number of protocol message XML files into *count. */
TQBSE_API int32_t tqBsePluginControlDll_ProtocolMessageXml_Count_Get(int32_t* count);
/** Reads the length the server reports for XML file index's name into *length. */
TQBSE_API int32_t tqBsePluginControlDll_ProtocolMessageXml_NameLength_Get(int32_t index, int32_t* length);
/** Copies XML file index's name into buffer (bufferSize bytes, sent too); -13 if it does not fit. */
TQBSE_API int32_t tqBsePluginControlDll_ProtocolMessageXml_Name_Get(int32_t index, char* buffer, int32_t bufferSize);
/** Stores content as XML file name on the server (texts longer than their limits are left out of the request). */
TQBSE_API int32_t tqBsePluginControlDll_ProtocolMessageXml_Upload(const char* name, int32_t nameLimit,
                                                                 const char* content, int32_t contentLimit);
/** Reads the size the server reports for XML file name into *size. */
TQBSE_API int32_t tqBsePluginControlDll_ProtocolMessageXml_DownloadSize_Get(const char* name, int32_t nameLimit,
                                                                           int32_t* size);
/** Copies XML file name's text into buffer (bufferSize bytes, sent too); -13 if text and terminator do not fit. */
TQBSE_API int32_t tqBsePluginControlDll_ProtocolMessageXml_Download(const char* name, int32_t nameLimit, char* buffer,
                                                                   int32_t bufferSize);
/** Reads the number of system parameter files into *count. */
TQBSE_API int32_t tqBsePluginControlDll_SystemParamFile_Count_Get(int32_t* count);
/** Reads the length the server reports for system parameter file index's name into *length. */
TQBSE_API int32_t tqBsePluginControlDll_SystemParamFile_NameLength_Get(int32_t index, int32_t* length);
/** Copies system parameter file index's name into buffer (bufferSize bytes, sent too); -13 if it does not fit. */
TQBSE_API int32_t tqBsePluginControlDll_SystemParamFile_Name_Get(int32_t index, char* buffer, int32_t bufferSize);

#ifdef __cplusplus
}
#endif

#endif /* TQBSEPLUGINCONTROLDLL_H */
