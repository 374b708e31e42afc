// Texts every export shares: the families' titles and introductions, the
// parameters whose meaning is their role's alone, and each result code's
// meaning (its name and library text are in protocol/result_codes.h).
#pragma once
#include "protocol/call_doc_types.h"

namespace tqbse::docs {

// In the order of the Family enumeration.
inline constexpr FamilyDoc kFamilies[] = {
    {Family::Connection, "connection", "Connection",
     "Opening and closing the connection to the server. These calls run in the library: Initialise connects and "
     "starts the callback listener, Shutdown disconnects."},
    {Family::ErrorMessages, "error-messages", "Result-code texts",
     "The text of a result code. The library answers the codes it knows itself and asks the server for others."},
    {Family::ServerQueries, "server-queries", "Server queries",
     "The server's version, its connection status and a full protocol reset."},
    {Family::RfSettings, "rf-settings", "RF settings and measurement state",
     "Centre frequencies and levels of the receiver (RX) and transmitter (TX) paths, the server's logging and RF "
     "measurement, and the converter's overload flag. The server holds every setting; each getter asks it again."},
    {Family::TestCases, "test-cases", "Test cases",
     "The server's list of test cases: count them, read each one's name and group name, run one."},
    {Family::ProtocolResults, "protocol-results", "Protocol measurement and results",
     "Protocol measurements and their results. Results stay on the server behind a handle: take one, read traces "
     "and result items through it, release it with Results_DeleteHandle (which releases LTE handles too)."},
    {Family::LteResults, "lte-results", "LTE measurement and results",
     "LTE measurements per RF path and their results: the cell, traces and eight single values, read through a "
     "handle that Results_DeleteHandle releases."},
    {Family::Scenarios, "scenarios", "Scenarios",
     "Scenario texts stored on the server by name: list, upload, download, execute, and whether one runs."},
    {Family::DebugFilters, "debug-filters", "Debug filters",
     "The server's debug filters. A state set is pending until DebugFilters_AcceptChanges applies it or "
     "DebugFilters_RejectChanges discards it."},
    {Family::FileLists, "file-lists", "Protocol message XML files and system parameter files",
     "The protocol message XML files the server holds (list, upload, download) and its system parameter files "
     "(list)."},
};

inline constexpr RoleDoc kRoleDocs[] = {
    {ParamRole::TextLimit,
     "the longest text the library sends for the text before it; a longer text is left out of the request (the "
     "server then usually answers -9). Never sent"},
    {ParamRole::BufferSize,
     "the buffer's size in bytes; it must hold the text and its terminating zero, else -13. Sent to the server "
     "too"},
    {ParamRole::LocalSize, "the buffer's size in bytes; it must hold the text and its terminating zero, else -13"},
    {ParamRole::Capacity,
     "how many elements each of the two arrays holds (not bytes); a longer array gives -13. Sent to the server "
     "too"},
};

inline constexpr CodeDoc kCodeDocs[] = {
    {2, "A warning: the server's version is newer than the library's. The call succeeded and its outputs are "
        "written; some of the server's functions may be missing from this library."},
    {1, "A warning: the library's version is newer than the server's. The call succeeded and its outputs are "
        "written; the server may lack some functions the library has."},
    {0, "Success."},
    {-1, "The library's own unspecified failure: a NULL output pointer (or a NULL buffer or array with a positive "
         "size), refused before anything is sent, or memory that could not be allocated; Shutdown when the socket "
         "layer's clean-up failed."},
    {-2, "An output token of the reply is malformed: no \"=\" or an unmatched parenthesis. The connection is "
         "brought back in step before the call returns."},
    {-3, "The element count of an array in the reply is not a decimal integer."},
    {-4, "The element count of an array in the reply differs from the elements it carries."},
    {-5, "An output token carries another type than the export expects (a double where a float is due). The "
         "server itself answers -5 for an input of the wrong type."},
    {-6, "The hexadecimal text of an output does not convert; a number output may hold the bytes decoded before "
         "the bad pair."},
    {-7, "Sent by the server only: it failed to transmit or receive the message."},
    {-8, "The server knows no function of that name (an older server, or a library-local export sent by hand)."},
    {-9, "The server received the wrong number of parameters; usually a text longer than its limit was left out "
         "of the request."},
    {-10, "The reply names another function than the request. The connection is brought back in step."},
    {-11, "The reply carries fewer parameters than the export reads; outputs before the missing one stay written."},
    {-12, "The reply's first parameter, the result code, is not an integer."},
    {-13, "The caller's buffer or array is too small for the text and its terminator, or for the trace's points; "
          "the buffer is left untouched. Ask the length or size query first."},
    {-14, "No reply: there is no connection, the exchange failed, the reply deadline (TQBSE_REPLY_TIMEOUT_MS) "
          "passed, or another thread called Initialise or Shutdown. Only Initialise reconnects. A call ended this "
          "way may or may not have been applied by the server."},
    {-15, "Never produced by the library, which has no text or constant for it; a server may use it. "
          "GetErrorMsg asks the server for its text."},
    {-16, "Initialise got an address octet outside 0..255; nothing was changed."},
    {-17, "The function has no remote implementation (TarquelPrivateData_Set); nothing is sent."},
    {-18, "Sent by the server: an internal object failed. The emulator answers it for an index, handle, trace, "
          "item, measurement or name it does not know."},
    {-19, "Sent by the server: its side of the plug-in could not be loaded."},
    {-20, "Sent by the server: a request parameter has a type it did not expect."},
};

} // namespace tqbse::docs
