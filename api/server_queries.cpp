// Server-query exports with rules of their own: the server version and the
// private entry point that is not available remotely (FullProtocolReset and
// ConnectionStatus_Get are generated in exports.cpp).
#include <string_view>

#include "client/call_remote.h"
#include "protocol/rows/core.h"
#include "api/export.h"
#include "protocol/result_codes.h"

namespace {
constexpr int32_t kClientVersion[4] = {TQBSE_VERSION_MAJOR, TQBSE_VERSION_MINOR, TQBSE_VERSION_PATCH,
                                       TQBSE_VERSION_BUILD};
constexpr std::size_t kVersionReplyParams = 5;

using namespace tqbse;

int32_t serverVersion(ServerConnection* connection, int32_t* version)
{
    if (connection == nullptr)
        return kUnknownError;
    const CallDesc& call = calls::GetServerVersion;
    const ArgValue args[] = {version};
    return callRemoteJudged(*connection, call, args, [&](std::string_view reply, bool* rejected) -> int32_t {
        // The common checks, except that this reply has an exact
        // count, checked before the result code: a failure reply that
        // carries its code alone is -11 too.
        codec::SplitMessage message;
        int32_t result = 0;
        const int32_t rc = checkReply(call, reply, &message, &result);
        *rejected = rc != kNoResponse;
        if (rc == kNoResponse || rc == kReplyOutOfOrder)
            return rc;
        if (message.params.size() != kVersionReplyParams)
            return kReplyParameterCount;
        if (rc != kSuccess)
            return rc;
        *rejected = false;
        if (result < 0)
            return result;
        if (const int32_t written = writeOutputs(call, args, message); written != kSuccess) {
            *rejected = true;
            return written;
        }
        for (int i = 0; i < 4; ++i) {
            if (version[i] < kClientVersion[i])
                return kVersionWarningClientNewer;
            if (version[i] > kClientVersion[i])
                return kVersionWarningServerNewer;
        }
        return kSuccess;
    });
}
} // namespace

TQ_EXPORT int32_t tqBsePluginControlDll_GetServerVersion(int32_t* version)
{
    return guarded([&] { return serverVersion(&defaultSession().connection, version); });
}

TQ_EXPORT int32_t tqbse_GetServerVersion(tqbse_session* session, int32_t* version)
{
    return guarded([&] { return serverVersion(sessionConnection(session), version); });
}

TQ_EXPORT int32_t tqBsePluginControlDll_TarquelPrivateData_Set(int32_t /*value*/)
{
    return tqbse::kNotValidRemotely;
}
