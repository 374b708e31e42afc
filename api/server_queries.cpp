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
} // namespace

TQ_EXPORT int32_t tqBsePluginControlDll_GetServerVersion(int32_t* version)
{
    using namespace tqbse;
    return guarded([&]() -> int32_t {
        const CallDesc& call = calls::GetServerVersion;
        const ArgValue args[] = {version};
        return callRemoteJudged(call, args, [&](std::string_view reply, bool* rejected) -> int32_t {
            // Every failure before the server's result is decoded is the
            // library's own check of the reply.
            *rejected = true;
            if (reply.empty()) {
                *rejected = false;
                return kNoResponse;
            }
            const codec::SplitMessage message = codec::splitMessage(reply);
            if (message.name != std::string_view(call.name))
                return kReplyOutOfOrder;
            // The count is checked before the result code, so a failure reply
            // that carries its code alone is -11 too.
            if (message.params.size() != kVersionReplyParams)
                return kReplyParameterCount;
            int32_t result = 0;
            if (codec::decodeInt(message.params[0], &result) != kSuccess)
                return kNoResultCode;
            *rejected = false;
            if (result < 0)
                return result;
            if (const int32_t rc = writeOutputs(call, args, message); rc != kSuccess) {
                *rejected = true;
                return rc;
            }
            for (int i = 0; i < 4; ++i) {
                if (version[i] < kClientVersion[i])
                    return kVersionWarningClientNewer;
                if (version[i] > kClientVersion[i])
                    return kVersionWarningServerNewer;
            }
            return kSuccess;
        });
    });
}

TQ_EXPORT int32_t tqBsePluginControlDll_TarquelPrivateData_Set(int32_t /*value*/)
{
    return tqbse::kNotValidRemotely;
}
