// How exports are defined. Definitions use the public header's TQBSE_API:
// only functions defined with it are visible in the shared object
// (everything else is built with hidden visibility).
#pragma once

#include "client/call_remote.h"
#include "client/trace.h"
#include "protocol/call_description.h"
#include "protocol/result_codes.h"
#include "tqBsePluginControlDll.h"

#define TQ_EXPORT extern "C" TQBSE_API

namespace tqbse {
// Every export runs its body through this: a C++ exception (in practice an
// allocation that failed, say for a huge reply) becomes -1, the unspecified
// failure, so that none crosses the C API.
template <typename Body>
int32_t guarded(Body&& body) noexcept
{
    try {
        return trace::finished(body());
    } catch (...) {
        return kUnknownError;
    }
}
} // namespace tqbse

// Defines a family's export from its row: a thin function over callRemote.
#define TQ_DEFINE_EXPORT(kind, family, name, ...) TQ_DEFINE_EXPORT_##kind(name, __VA_ARGS__)
#define TQ_DEFINE_EXPORT_Remote(name, ...)                                                          \
    TQ_EXPORT int32_t tqBsePluginControlDll_##name(TQ_MAP(TQ_PARAM_DECL, __VA_ARGS__))              \
    {                                                                                               \
        return ::tqbse::guarded(                                                                    \
            [&] { return ::tqbse::callRemote(::tqbse::calls::name, {TQ_MAP(TQ_PARAM_ARG, __VA_ARGS__)}); }); \
    }
// Rows whose exports are written by hand define nothing here.
#define TQ_DEFINE_EXPORT_RemoteOwn(name, ...)
#define TQ_DEFINE_EXPORT_Local(name, ...)
