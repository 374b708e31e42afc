// Result-code text exports: answered from the library's own table when it
// knows the code, otherwise asked of the server (without the code).
#include "client/call_remote.h"
#include "protocol/rows/core.h"
#include "api/export.h"
#include "protocol/result_codes.h"
#include "client/c_arguments.h"

namespace {
using namespace tqbse;

// A null connection is a null session: -1, as for any other session export.
int32_t errorMsgLength(ServerConnection* connection, int32_t code, int32_t* length)
{
    const std::string_view text = errorText(code);
    if (connection == nullptr || (!text.empty() && length == nullptr))
        return kUnknownError;
    if (text.empty())
        return callRemote(*connection, calls::GetErrorMsgLength, {code, length});
    *length = int32_t(text.size()) + 1;
    return kSuccess;
}

int32_t errorMsg(ServerConnection* connection, int32_t code, char* buffer, int32_t bufferSize)
{
    if (connection == nullptr)
        return kUnknownError;
    const std::string_view text = errorText(code);
    if (text.empty())
        return callRemote(*connection, calls::GetErrorMsg, {code, buffer, bufferSize});
    const ArgValue args[] = {code, buffer, bufferSize};
    if (const int32_t rc = checkOutputPointers(calls::GetErrorMsg, args); rc != kSuccess)
        return rc;
    return copyText(text, buffer, bufferSize);
}
} // namespace

TQ_EXPORT int32_t tqBsePluginControlDll_GetErrorMsgLength(int32_t code, int32_t* length)
{
    return guarded([&] { return errorMsgLength(&defaultSession().connection, code, length); });
}

TQ_EXPORT int32_t tqbse_GetErrorMsgLength(tqbse_session* session, int32_t code, int32_t* length)
{
    return guarded([&] { return errorMsgLength(sessionConnection(session), code, length); });
}

TQ_EXPORT int32_t tqBsePluginControlDll_GetErrorMsg(int32_t code, char* buffer, int32_t bufferSize)
{
    return guarded([&] { return errorMsg(&defaultSession().connection, code, buffer, bufferSize); });
}

TQ_EXPORT int32_t tqbse_GetErrorMsg(tqbse_session* session, int32_t code, char* buffer, int32_t bufferSize)
{
    return guarded([&] { return errorMsg(sessionConnection(session), code, buffer, bufferSize); });
}
