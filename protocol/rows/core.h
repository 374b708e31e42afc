// Rows of the connection, result-code text and server-query exports.
#pragma once
#include "protocol/call_description.h"

#define TQ_CONNECTION_CALLS(X)                                                                     \
    X(Local, Connection, Initialise, (LocalInt, octet1), (LocalInt, octet2), (LocalInt, octet3),   \
      (LocalInt, octet4))                                                                          \
    X(Local, Connection, Shutdown)                                                                 \
    X(Remote, Connection, RemoteConnection_Set, (InBool, state))

#define TQ_ERROR_MESSAGE_CALLS(X)                                                                  \
    X(RemoteOwn, ErrorMessages, GetErrorMsgLength, (LocalInt, code), (OutInt, length))             \
    X(RemoteOwn, ErrorMessages, GetErrorMsg, (LocalInt, code),                                     \
      (OutText, buffer, GetErrorMsgLength),                                                        \
      (LocalSize, bufferSize))

#define TQ_SERVER_QUERY_CALLS(X)                                                                   \
    X(RemoteOwn, ServerQueries, GetServerVersion, (OutVersion, version))                           \
    X(Remote, ServerQueries, FullProtocolReset)                                                    \
    X(Remote, ServerQueries, ConnectionStatus_Get, (OutBool, connected))                           \
    X(Local, ServerQueries, TarquelPrivateData_Set, (LocalInt, value))

#define TQ_CORE_CALLS(X) TQ_CONNECTION_CALLS(X) TQ_ERROR_MESSAGE_CALLS(X) TQ_SERVER_QUERY_CALLS(X)

namespace tqbse::calls {
TQ_CORE_CALLS(TQ_DESCRIBE_CALL)
}
