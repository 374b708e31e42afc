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
 * Host interrupt (off by default): when TQBSE_INTERRUPT_FD holds a descriptor
 * number (a socket handle on Windows) at Initialise, a call's waits also
 * watch that descriptor; once the host makes it readable (a byte written to
 * it, as from a signal handler), the waiting call returns -14 and the
 * connection is dropped as at a reply deadline. What waits on it when a call
 * begins is discarded first. The library never writes to it or closes it.
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

/* BEGIN GENERATED EXPORTS */
/* Generated from the call rows (protocol/rows/) and their texts (protocol/rows/docs/):
 * `cmake --build build --target header_docs` writes them here. The codes listed are those
 * the export can return; their meanings are in the result codes above. */

/* ---- Connection --------------------------------------------------------- */

/** Connects to the server at octet1.octet2.octet3.octet4, port 6002, and starts the callback listener on port 6009. An
 *  earlier connection is closed and its listener stopped first. Then tells the server a remote connection opens
 *  (RemoteConnection_Set with -1) and returns that call's result; -14 when the server cannot be reached (connect gives
 *  up after 10 s and says why on standard output).
 *  octet1  first (most significant) octet of the server's IPv4 address, 0..255
 *  octet2  second octet of the address, 0..255
 *  octet3  third octet of the address, 0..255
 *  octet4  fourth (least significant) octet of the address, 0..255
 *  Codes: 0 -8 -9 -10 -11 -12 -14 -16 */
TQBSE_API int32_t tqBsePluginControlDll_Initialise(int32_t octet1, int32_t octet2, int32_t octet3, int32_t octet4);

/** Tells the server the remote connection ends (RemoteConnection_Set with 0), closes the socket and forgets the
 *  address. The callback listener keeps running. Safe to call when not connected.
 *  Codes: 0 -1 */
TQBSE_API int32_t tqBsePluginControlDll_Shutdown(void);

/** Tells the server that a remote connection opens or closes. Initialise and Shutdown call it themselves.
 *  state  non-zero: a connection opens (the library uses -1); 0: it closes. Sent unchanged
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_RemoteConnection_Set(int32_t state);

/* ---- Result-code texts -------------------------------------------------- */

/** Writes the buffer size the text of a result code needs, its terminating zero included (9 for 0). Codes the library
 *  knows are answered locally without sending anything; for any other code (-15, -16, below -20, above 2) the server is
 *  asked, without the code.
 *  code    the result code whose text is wanted; not sent to the server
 *  length  receives the buffer size, in bytes, terminator included
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_GetErrorMsgLength(int32_t code, int32_t* length);

/** Copies the text of a result code and a terminating zero into buffer. Known codes are answered locally; for others
 *  the server is asked as for GetErrorMsgLength, without the code or the size.
 *  code        the result code whose text is wanted; not sent to the server
 *  buffer      receives the text and its terminating zero; untouched on -13
 *  bufferSize  the buffer's size in bytes; it must hold the text and its terminating zero, else -13
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -13 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_GetErrorMsg(int32_t code, char* buffer, int32_t bufferSize);

/* ---- Server queries ----------------------------------------------------- */

/** Reads the server's four version components and compares them with the library's own version: 0 when they are equal,
 *  1 when the server's is older, 2 when it is newer. A reply without exactly five parameters gives -11; at a malformed
 *  component the ones before it stay written.
 *  version  an array of four integers that receives major, minor, patch and build, most significant first; untouched
 *           when the server answers with a negative code
 *  Codes: 0 1 2 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_GetServerVersion(int32_t* version);

/** Asks the server to reset its protocol state (the emulator switches every protocol measurement off and releases every
 *  protocol results handle; LTE state stays).
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_FullProtocolReset(void);

/** Reads whether the server regards the remote connection as open: the last flag RemoteConnection_Set sent.
 *  connected  receives the server's flag, its 32-bit value unchanged; 0 is false
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_ConnectionStatus_Get(int32_t* connected);

/** Has no remote implementation: always returns -17 and sends nothing.
 *  value  not used
 *  Codes: -17 */
TQBSE_API int32_t tqBsePluginControlDll_TarquelPrivateData_Set(int32_t value);

/* ---- RF settings and measurement state ---------------------------------- */

/** Sets the centre frequency of a receiver path.
 *  index      the RF path, as the server numbers them (the emulator: 0 and 1 built in); sent unchanged
 *  frequency  the centre frequency, sent unchanged as a double (the emulator's unit: Hz)
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_RX_CentreFrequency_Set(int32_t index, double frequency);

/** Reads the centre frequency of a receiver path.
 *  index      the RF path, as the server numbers them (the emulator: 0 and 1 built in); sent unchanged
 *  frequency  receives the centre frequency (the emulator's unit: Hz)
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_RX_CentreFrequency_Get(int32_t index, double* frequency);

/** Sets the expected input level of a receiver path.
 *  index  the RF path, as the server numbers them (the emulator: 0 and 1 built in); sent unchanged
 *  level  the input level, sent unchanged as a float (the emulator's unit: dBm)
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_RX_InputLevel_Set(int32_t index, float level);

/** Reads the expected input level of a receiver path.
 *  index  the RF path, as the server numbers them (the emulator: 0 and 1 built in); sent unchanged
 *  level  receives the input level (the emulator's unit: dBm)
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_RX_InputLevel_Get(int32_t index, float* level);

/** Sets the centre frequency of a transmitter path.
 *  index      the RF path, as the server numbers them (the emulator: 0 and 1 built in); sent unchanged
 *  frequency  the centre frequency, sent unchanged as a double (the emulator's unit: Hz)
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_TX_CentreFrequency_Set(int32_t index, double frequency);

/** Reads the centre frequency of a transmitter path.
 *  index      the RF path, as the server numbers them (the emulator: 0 and 1 built in); sent unchanged
 *  frequency  receives the centre frequency (the emulator's unit: Hz)
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_TX_CentreFrequency_Get(int32_t index, double* frequency);

/** Sets the reference (output) level of a transmitter path.
 *  index  the RF path, as the server numbers them (the emulator: 0 and 1 built in); sent unchanged
 *  level  the reference level, sent unchanged as a float (the emulator's unit: dBm)
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_TX_ReferenceLevel_Set(int32_t index, float level);

/** Reads the reference (output) level of a transmitter path.
 *  index  the RF path, as the server numbers them (the emulator: 0 and 1 built in); sent unchanged
 *  level  receives the reference level (the emulator's unit: dBm)
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_TX_ReferenceLevel_Get(int32_t index, float* level);

/** Switches the server's logging on or off.
 *  state  non-zero switches logging on, 0 off; sent unchanged
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LoggingState_Set(int32_t state);

/** Reads whether the server's logging is on.
 *  state  receives the logging flag, its 32-bit value unchanged; 0 is off
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LoggingState_Get(int32_t* state);

/** Switches the server's RF measurement on or off.
 *  state  non-zero switches the measurement on, 0 off; sent unchanged
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_RFMeasurement_State_Set(int32_t state);

/** Reads whether the server's RF measurement is on.
 *  state  receives the measurement flag, its 32-bit value unchanged; 0 is off
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_RFMeasurement_State_Get(int32_t* state);

/** Reads whether the analogue-to-digital converter of an RF path is overloaded (the emulator: when the path's RX input
 *  level is above its configured overload level, 0 dBm by default).
 *  index       the RF path, as the server numbers them (the emulator: 0 and 1 built in); sent unchanged
 *  overloaded  receives the overload flag, unchanged; 0 is not overloaded
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_ADCOverloaded_Get(int32_t index, int32_t* overloaded);

/* ---- Test cases --------------------------------------------------------- */

/** Reads how many test cases the server offers.
 *  count  receives the number of test cases
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_TestCase_Count_Get(int32_t* count);

/** Reads the length of a test case's name, as the server reports it (the emulator: bytes without the terminator, so a
 *  buffer needs one more).
 *  index   the test case, 0 .. count-1 as TestCase_Count_Get reports; sent unchanged
 *  length  receives the length, passed on unchanged
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_TestCase_NameLength_Get(int32_t index, int32_t* length);

/** Copies a test case's name into a buffer.
 *  index       the test case, 0 .. count-1 as TestCase_Count_Get reports; sent unchanged
 *  buffer      receives the name and its terminating zero; untouched on -13
 *  bufferSize  the buffer's size in bytes; it must hold the text and its terminating zero, else -13. Sent to the server
 *              too
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -13 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_TestCase_Name_Get(int32_t index, char* buffer, int32_t bufferSize);

/** Reads the length of the name of the group a test case belongs to, as the server reports it.
 *  index   the test case, 0 .. count-1 as TestCase_Count_Get reports; sent unchanged
 *  length  receives the length, passed on unchanged
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_TestCase_GroupNameLength_Get(int32_t index, int32_t* length);

/** Copies the name of the group a test case belongs to into a buffer.
 *  index       the test case, 0 .. count-1 as TestCase_Count_Get reports; sent unchanged
 *  buffer      receives the group name and its terminating zero; untouched on -13
 *  bufferSize  the buffer's size in bytes; it must hold the text and its terminating zero, else -13. Sent to the server
 *              too
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -13 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_TestCase_GroupName_Get(int32_t index, char* buffer, int32_t bufferSize);

/** Runs a test case; returns when the server replies, with the server's code.
 *  index  the test case, 0 .. count-1 as TestCase_Count_Get reports; sent unchanged
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_TestCase_Run(int32_t index);

/* ---- Protocol measurement and results ----------------------------------- */

/** Switches a protocol measurement on or off.
 *  index    the protocol measurement (the emulator: one per RF path); sent unchanged
 *  enabled  non-zero switches the measurement on, 0 off; sent unchanged
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Protocol_MeasurementEnabled_Set(int32_t index, int32_t enabled);

/** Reads whether a protocol measurement is on.
 *  index    the protocol measurement; sent unchanged
 *  enabled  receives the enabled flag, its 32-bit value unchanged; 0 is off
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Protocol_MeasurementEnabled_Get(int32_t index, int32_t* enabled);

/** Reads whether protocol results are available (the emulator: while any protocol measurement is on).
 *  available  receives the flag, unchanged; non-zero when results are available
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Protocol_Results_Available_Get(int32_t* available);

/** Takes a handle on the current protocol results. Release it with Results_DeleteHandle when done.
 *  handle  receives the new handle
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Protocol_Results_GetHandle(int32_t* handle);

/** Releases a protocol or LTE results handle; the server answers with a negative code for a handle it does not know
 *  (the emulator: -18, also for a second release).
 *  handle  the handle to release, from Protocol_Results_GetHandle or LTE_Results_GetHandle
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Results_DeleteHandle(int32_t handle);

/** Reads the number of points of one trace of protocol results.
 *  handle  a results handle from Protocol_Results_GetHandle; sent unchanged, the server judges it
 *  trace   which trace of the results (the emulator: 0 and 1); sent unchanged
 *  length  receives the number of points of each of the trace's two arrays
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Protocol_Results_GetTraceLength(int32_t handle, int32_t trace, int32_t* length);

/** Copies the points of one trace of protocol results into two arrays. Ask Protocol_Results_GetTraceLength first:
 *  neither count is returned.
 *  handle    a results handle from Protocol_Results_GetHandle; sent unchanged, the server judges it
 *  trace     which trace of the results (the emulator: 0 and 1); sent unchanged
 *  xValues   receives the x values (the emulator's unit: ms); written before yValues is read
 *  yValues   receives the y values; untouched when the x array or the y array fails
 *  capacity  how many elements each of the two arrays holds (not bytes); a longer array gives -13. Sent to the server
 *            too
 *  Codes: 0 -1 -2 -3 -4 -5 -6 -7 -8 -9 -10 -11 -12 -13 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Protocol_Results_GetTrace(int32_t handle, int32_t trace, double* xValues,
                                                                  double* yValues, int32_t capacity);

/** Reads one result item, a pair of doubles, of the protocol results behind a handle (the emulator: items 0 to 3).
 *  handle       a results handle from Protocol_Results_GetHandle; sent unchanged, the server judges it
 *  item         which result item; sent unchanged
 *  firstValue   receives the item's first value
 *  secondValue  receives the item's second value; a reply that lacks it gives -11 with firstValue written
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Protocol_Results_GetResultItem(int32_t handle, int32_t item, double* firstValue,
                                                                       double* secondValue);

/* ---- LTE measurement and results ---------------------------------------- */

/** Switches one LTE measurement of an RF path on or off.
 *  index        the RF path the LTE measurement runs on; sent unchanged
 *  measurement  which LTE measurement (the emulator: 0 .. 7); sent unchanged
 *  enabled      non-zero switches the measurement on, 0 off; sent unchanged
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LTE_MeasurementEnabled_Set(int32_t index, int32_t measurement, int32_t enabled);

/** Reads whether one LTE measurement of an RF path is on.
 *  index        the RF path the LTE measurement runs on; sent unchanged
 *  measurement  which LTE measurement; sent unchanged
 *  enabled      receives the enabled flag, its 32-bit value unchanged; 0 is off
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LTE_MeasurementEnabled_Get(int32_t index, int32_t measurement,
                                                                   int32_t* enabled);

/** Reads whether LTE results of an RF path are available (the emulator: while any of its LTE measurements is on).
 *  index      the RF path the LTE measurement runs on; sent unchanged
 *  available  receives the flag, unchanged; non-zero when results are available
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_Available_Get(int32_t index, int32_t* available);

/** Takes a handle on the current LTE results of an RF path. Release it with Results_DeleteHandle when done.
 *  index   the RF path the LTE measurement runs on; sent unchanged
 *  handle  receives the new handle
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_GetHandle(int32_t index, int32_t* handle);

/** Reads the cell the LTE results behind a handle were measured on.
 *  handle  an LTE results handle from LTE_Results_GetHandle; sent unchanged, the server judges it
 *  cell    receives the cell number
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_Cell_Get(int32_t handle, int32_t* cell);

/** Reads the number of points of one trace of LTE results.
 *  handle  an LTE results handle from LTE_Results_GetHandle; sent unchanged, the server judges it
 *  trace   which trace of the results (the emulator: 0 .. 2); sent unchanged
 *  length  receives the number of points of each of the trace's two arrays
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_GetTraceLength(int32_t handle, int32_t trace, int32_t* length);

/** Copies the points of one trace of LTE results into two arrays. Ask LTE_Results_GetTraceLength first: neither count
 *  is returned.
 *  handle    an LTE results handle from LTE_Results_GetHandle; sent unchanged, the server judges it
 *  trace     which trace of the results; sent unchanged
 *  xValues   receives the x values (the emulator's unit: Hz, one point per subcarrier); written before yValues is read
 *  yValues   receives the y values; untouched when the x array or the y array fails
 *  capacity  how many elements each of the two arrays holds (not bytes); a longer array gives -13. Sent to the server
 *            too
 *  Codes: 0 -1 -2 -3 -4 -5 -6 -7 -8 -9 -10 -11 -12 -13 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_GetTrace(int32_t handle, int32_t trace, double* xValues,
                                                             double* yValues, int32_t capacity);

/** Reads the RMS error vector magnitude of the LTE results behind a handle.
 *  handle  an LTE results handle from LTE_Results_GetHandle; sent unchanged, the server judges it
 *  value   receives the RMS error vector magnitude as a float
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_Evm_Rms_Get(int32_t handle, float* value);

/** Reads the error vector magnitude of the allocated carriers.
 *  handle  an LTE results handle from LTE_Results_GetHandle; sent unchanged, the server judges it
 *  value   receives the carrier error vector magnitude as a float
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_Evm_Carrier_Get(int32_t handle, float* value);

/** Reads the error vector magnitude of the non-allocated carriers.
 *  handle  an LTE results handle from LTE_Results_GetHandle; sent unchanged, the server judges it
 *  value   receives the error vector magnitude of the non-allocated carriers as a float
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_Evm_NonAllocatedCarriers_Get(int32_t handle, float* value);

/** Reads the frequency error of the LTE results behind a handle.
 *  handle  an LTE results handle from LTE_Results_GetHandle; sent unchanged, the server judges it
 *  value   receives the frequency error as a float
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_FreqError_Get(int32_t handle, float* value);

/** Reads the carrier leakage of the LTE results behind a handle.
 *  handle  an LTE results handle from LTE_Results_GetHandle; sent unchanged, the server judges it
 *  value   receives the carrier leakage as a float
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_CarrierLeak_Get(int32_t handle, float* value);

/** Reads the symbol clock error of the LTE results behind a handle.
 *  handle  an LTE results handle from LTE_Results_GetHandle; sent unchanged, the server judges it
 *  value   receives the symbol clock error as a float
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_SymbolClkError_Get(int32_t handle, float* value);

/** Reads the I/Q gain imbalance of the LTE results behind a handle.
 *  handle  an LTE results handle from LTE_Results_GetHandle; sent unchanged, the server judges it
 *  value   receives the I/Q gain imbalance as a float
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_IQGainImbalance_Get(int32_t handle, float* value);

/** Reads the I/Q skew of the LTE results behind a handle.
 *  handle  an LTE results handle from LTE_Results_GetHandle; sent unchanged, the server judges it
 *  value   receives the I/Q skew as a float
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_LTE_Results_IQSkew_Get(int32_t handle, float* value);

/* ---- Scenarios ---------------------------------------------------------- */

/** Reads how many scenarios the server holds.
 *  count  receives the number of scenarios
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_Count_Get(int32_t* count);

/** Reads the length of a scenario's name, as the server reports it.
 *  index   the scenario, 0 .. count-1 as Scenario_Count_Get reports; sent unchanged
 *  length  receives the length, passed on unchanged
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_NameLength_Get(int32_t index, int32_t* length);

/** Copies a scenario's name into a buffer.
 *  index       the scenario, 0 .. count-1 as Scenario_Count_Get reports; sent unchanged
 *  buffer      receives the name and its terminating zero; untouched on -13
 *  bufferSize  the buffer's size in bytes; it must hold the text and its terminating zero, else -13. Sent to the server
 *              too
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -13 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_Name_Get(int32_t index, char* buffer, int32_t bufferSize);

/** Stores a scenario's text on the server under a name (the emulator replaces a text of the same name). The content
 *  travels unescaped: it comes back intact only if its parentheses pair up.
 *  name          the scenario's name; left out of the request when longer than nameLimit
 *  nameLimit     the longest text the library sends for the text before it; a longer text is left out of the request
 *                (the server then usually answers -9). Never sent
 *  content       the scenario's text; left out of the request when longer than contentLimit
 *  contentLimit  the longest text the library sends for the text before it; a longer text is left out of the request
 *                (the server then usually answers -9). Never sent
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_Upload(const char* name, int32_t nameLimit, const char* content,
                                                        int32_t contentLimit);

/** Reads the size of a stored scenario's text, as the server reports it.
 *  name       the scenario's name; left out of the request when longer than nameLimit
 *  nameLimit  the longest text the library sends for the text before it; a longer text is left out of the request (the
 *             server then usually answers -9). Never sent
 *  size       receives the size (the emulator: bytes without the terminator)
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_DownloadSize_Get(const char* name, int32_t nameLimit, int32_t* size);

/** Copies a stored scenario's text into a buffer.
 *  name        the scenario's name; left out of the request when longer than nameLimit
 *  nameLimit   the longest text the library sends for the text before it; a longer text is left out of the request (the
 *              server then usually answers -9). Never sent
 *  buffer      receives the text and its terminating zero; untouched on -13
 *  bufferSize  the buffer's size in bytes; it must hold the text and its terminating zero, else -13. Sent to the server
 *              too
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -13 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_Download(const char* name, int32_t nameLimit, char* buffer,
                                                          int32_t bufferSize);

/** Starts a stored scenario (the emulator: it runs for a configured time, 1.5 s by default; executing again restarts
 *  it).
 *  name       the scenario's name; left out of the request when longer than nameLimit
 *  nameLimit  the longest text the library sends for the text before it; a longer text is left out of the request (the
 *             server then usually answers -9). Never sent
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_Execute(const char* name, int32_t nameLimit);

/** Reads whether a scenario is running.
 *  running  receives the flag, unchanged; non-zero while a scenario runs
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_Scenario_IsRunning_Get(int32_t* running);

/* ---- Debug filters ------------------------------------------------------ */

/** Reads how many debug filters the server has.
 *  count  receives the number of filters
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_DebugFilters_GetCount(int32_t* count);

/** Reads the length of a debug filter's name, as the server reports it.
 *  index   the filter, 0 .. count-1 as DebugFilters_GetCount reports; sent unchanged
 *  length  receives the length, passed on unchanged
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_DebugFilters_NameLength_Get(int32_t index, int32_t* length);

/** Copies a debug filter's name into a buffer.
 *  index       the filter, 0 .. count-1; sent unchanged
 *  buffer      receives the name and its terminating zero; untouched on -13
 *  bufferSize  the buffer's size in bytes; it must hold the text and its terminating zero, else -13. Sent to the server
 *              too
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -13 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_DebugFilters_Name_Get(int32_t index, char* buffer, int32_t bufferSize);

/** Sets a debug filter's state as a pending change; DebugFilters_AcceptChanges applies it, DebugFilters_RejectChanges
 *  discards it.
 *  name       the filter's name; left out of the request when longer than nameLimit
 *  nameLimit  the longest text the library sends for the text before it; a longer text is left out of the request (the
 *             server then usually answers -9). Never sent
 *  state      the new state, non-zero on and 0 off; sent unchanged
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_DebugFilters_State_Set(const char* name, int32_t nameLimit, int32_t state);

/** Reads a debug filter's state (the emulator: the applied state, not a pending change).
 *  name       the filter's name; left out of the request when longer than nameLimit
 *  nameLimit  the longest text the library sends for the text before it; a longer text is left out of the request (the
 *             server then usually answers -9). Never sent
 *  state      receives the state, its 32-bit value unchanged
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_DebugFilters_State_Get(const char* name, int32_t nameLimit, int32_t* state);

/** Applies every pending debug-filter change.
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_DebugFilters_AcceptChanges(void);

/** Discards every pending debug-filter change.
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_DebugFilters_RejectChanges(void);

/* ---- Protocol message XML files and system parameter files -------------- */

/** Reads how many protocol message XML files the server holds.
 *  count  receives the number of files
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_ProtocolMessageXml_Count_Get(int32_t* count);

/** Reads the length of an XML file's name, as the server reports it.
 *  index   the XML file, 0 .. count-1 as ProtocolMessageXml_Count_Get reports; sent unchanged
 *  length  receives the length, passed on unchanged
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_ProtocolMessageXml_NameLength_Get(int32_t index, int32_t* length);

/** Copies an XML file's name into a buffer.
 *  index       the XML file, 0 .. count-1 as ProtocolMessageXml_Count_Get reports; sent unchanged
 *  buffer      receives the name and its terminating zero; untouched on -13
 *  bufferSize  the buffer's size in bytes; it must hold the text and its terminating zero, else -13. Sent to the server
 *              too
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -13 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_ProtocolMessageXml_Name_Get(int32_t index, char* buffer, int32_t bufferSize);

/** Stores a protocol message XML file on the server under a name (the emulator replaces a file of the same name). The
 *  content travels unescaped: it comes back intact only if its parentheses pair up.
 *  name          the XML file's name; left out of the request when longer than nameLimit
 *  nameLimit     the longest text the library sends for the text before it; a longer text is left out of the request
 *                (the server then usually answers -9). Never sent
 *  content       the file's text; left out of the request when longer than contentLimit
 *  contentLimit  the longest text the library sends for the text before it; a longer text is left out of the request
 *                (the server then usually answers -9). Never sent
 *  Codes: 0 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_ProtocolMessageXml_Upload(const char* name, int32_t nameLimit,
                                                                  const char* content, int32_t contentLimit);

/** Reads the size of a stored XML file, as the server reports it.
 *  name       the XML file's name; left out of the request when longer than nameLimit
 *  nameLimit  the longest text the library sends for the text before it; a longer text is left out of the request (the
 *             server then usually answers -9). Never sent
 *  size       receives the size (the emulator: bytes without the terminator)
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_ProtocolMessageXml_DownloadSize_Get(const char* name, int32_t nameLimit,
                                                                            int32_t* size);

/** Copies a stored XML file's text into a buffer.
 *  name        the XML file's name; left out of the request when longer than nameLimit
 *  nameLimit   the longest text the library sends for the text before it; a longer text is left out of the request (the
 *              server then usually answers -9). Never sent
 *  buffer      receives the text and its terminating zero; untouched on -13
 *  bufferSize  the buffer's size in bytes; it must hold the text and its terminating zero, else -13. Sent to the server
 *              too
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -13 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_ProtocolMessageXml_Download(const char* name, int32_t nameLimit, char* buffer,
                                                                    int32_t bufferSize);

/** Reads how many system parameter files the server holds.
 *  count  receives the number of files
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_SystemParamFile_Count_Get(int32_t* count);

/** Reads the length of a system parameter file's name, as the server reports it.
 *  index   the parameter file, 0 .. count-1 as SystemParamFile_Count_Get reports; sent unchanged
 *  length  receives the length, passed on unchanged
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_SystemParamFile_NameLength_Get(int32_t index, int32_t* length);

/** Copies a system parameter file's name into a buffer.
 *  index       the parameter file, 0 .. count-1 as SystemParamFile_Count_Get reports; sent unchanged
 *  buffer      receives the name and its terminating zero; untouched on -13
 *  bufferSize  the buffer's size in bytes; it must hold the text and its terminating zero, else -13. Sent to the server
 *              too
 *  Codes: 0 -1 -2 -5 -6 -7 -8 -9 -10 -11 -12 -13 -14 -18 -19 -20 */
TQBSE_API int32_t tqBsePluginControlDll_SystemParamFile_Name_Get(int32_t index, char* buffer, int32_t bufferSize);

/* END GENERATED EXPORTS */

#ifdef __cplusplus
}
#endif

#endif /* TQBSEPLUGINCONTROLDLL_H */
