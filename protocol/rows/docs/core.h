// What the connection, result-code text and server-query exports do, and
// what their parameters mean. Keyed by export name; checked against the
// rows in protocol/call_docs.h.
#pragma once
#include "protocol/call_doc_types.h"

namespace tqbse::docs {

inline constexpr CallDoc kCore[] = {
    {"Initialise",
     "Connects to the server at octet1.octet2.octet3.octet4, port 6002, and starts the callback listener on port "
     "6009. An earlier connection is closed and its listener stopped first. Then tells the server a remote "
     "connection opens (RemoteConnection_Set with -1) and returns that call's result; -14 when the server cannot be "
     "reached (connect gives up after 10 s and says why on standard output).",
     {{"octet1", "first (most significant) octet of the server's IPv4 address, 0..255", "127"},
      {"octet2", "second octet of the address, 0..255", "0"},
      {"octet3", "third octet of the address, 0..255", "0"},
      {"octet4", "fourth (least significant) octet of the address, 0..255", "1"}},
     {0, -16, -14, -10, -11, -12, -8, -9}},
    {"Shutdown",
     "Tells the server the remote connection ends (RemoteConnection_Set with 0), closes the socket and forgets "
     "the address. The callback listener keeps running. Safe to call when not connected.",
     {},
     {0, -1}},
    {"RemoteConnection_Set",
     "Tells the server that a remote connection opens or closes. Initialise and Shutdown call it themselves.",
     {{"state", "non-zero: a connection opens (the library uses -1); 0: it closes. Sent unchanged", "-1"}}},
    {"GetErrorMsgLength",
     "Writes the buffer size the text of a result code needs, its terminating zero included (9 for 0). Codes the "
     "library knows are answered locally without sending anything; for any other code (-15, -16, below -20, "
     "above 2) the server is asked, without the code.",
     {{"code", "the result code whose text is wanted; not sent to the server", "-14"},
      {"length", "receives the buffer size, in bytes, terminator included"}}},
    {"GetErrorMsg",
     "Copies the text of a result code and a terminating zero into buffer. Known codes are answered locally; for "
     "others the server is asked as for GetErrorMsgLength, without the code or the size.",
     {{"code", "the result code whose text is wanted; not sent to the server", "-14"},
      {"buffer", "receives the text and its terminating zero; untouched on -13"}}},
    {"GetServerVersion",
     "Reads the server's four version components and compares them with the library's own version: 0 when they "
     "are equal, 1 when the server's is older, 2 when it is newer. A reply without exactly five parameters gives "
     "-11; at a malformed component the ones before it stay written.",
     {{"version", "an array of four integers that receives major, minor, patch and build, most significant "
                  "first; untouched when the server answers with a negative code"}},
     {1, 2}},
    {"FullProtocolReset",
     "Asks the server to reset its protocol state (the emulator switches every protocol measurement off and "
     "releases every protocol results handle; LTE state stays).",
     {}},
    {"ConnectionStatus_Get",
     "Reads whether the server regards the remote connection as open: the last flag RemoteConnection_Set sent.",
     {{"connected", "receives the server's flag, its 32-bit value unchanged; 0 is false"}}},
    {"TarquelPrivateData_Set",
     "Has no remote implementation: always returns -17 and sends nothing.",
     {{"value", "not used", "0"}},
     {-17}},
};

} // namespace tqbse::docs
