// Result-code text exports: answered from the library's own table when it
// knows the code, otherwise asked of the server (without the code).
#include "client/call_remote.h"
#include "protocol/rows/core.h"
#include "api/export.h"
#include "protocol/result_codes.h"
#include "client/c_arguments.h"

TQ_EXPORT int32_t tqBsePluginControlDll_GetErrorMsgLength(int32_t code, int32_t* length)
{
    using namespace tqbse;
    return guarded([&]() -> int32_t {
        const std::string_view text = errorText(code);
        if (text.empty())
            return callRemote(calls::GetErrorMsgLength, {code, length});
        if (length == nullptr)
            return kUnknownError;
        *length = int32_t(text.size()) + 1;
        return kSuccess;
    });
}

TQ_EXPORT int32_t tqBsePluginControlDll_GetErrorMsg(int32_t code, char* buffer, int32_t bufferSize)
{
    using namespace tqbse;
    return guarded([&]() -> int32_t {
        const std::string_view text = errorText(code);
        if (text.empty())
            return callRemote(calls::GetErrorMsg, {code, buffer, bufferSize});
        const ArgValue args[] = {code, buffer, bufferSize};
        if (const int32_t rc = checkOutputPointers(calls::GetErrorMsg, args); rc != kSuccess)
            return rc;
        return copyText(text, buffer, bufferSize);
    });
}
