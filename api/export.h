// How exports are defined. Definitions use the public header's TQBSE_API:
// only functions defined with it are visible in the shared object
// (everything else is built with hidden visibility).
#pragma once

#include "client/call_remote.h"
#include "client/session.h"
#include "client/trace.h"
#include "protocol/call_description.h"
#include "protocol/result_codes.h"
#include "tqBsePluginControlDll.h"
#include "tqbse_session.h"

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
// The connection a session export runs on; null for a null session.
inline ServerConnection* sessionConnection(tqbse_session* session);
} // namespace tqbse

// The session handle behind the public header's opaque type.
struct tqbse_session {
    tqbse::Session session;
};

inline tqbse::ServerConnection* tqbse::sessionConnection(tqbse_session* session)
{
    return session != nullptr ? &session->session.connection : nullptr;
}

// Defines a family's exports from its row: the flat export over the default
// session and its session twin, each a thin function over callRemote.
#define TQ_DEFINE_EXPORT(kind, family, name, ...) TQ_DEFINE_EXPORT_##kind(name, __VA_ARGS__)
#define TQ_DEFINE_EXPORT_Remote(name, ...)                                                          \
    TQ_EXPORT int32_t tqBsePluginControlDll_##name(TQ_MAP(TQ_PARAM_DECL, __VA_ARGS__))              \
    {                                                                                               \
        return ::tqbse::guarded([&] {                                                               \
            return ::tqbse::callRemote(::tqbse::defaultSession().connection, ::tqbse::calls::name,  \
                                       {TQ_MAP(TQ_PARAM_ARG, __VA_ARGS__)});                        \
        });                                                                                         \
    }                                                                                               \
    TQ_EXPORT int32_t tqbse_##name(tqbse_session* session __VA_OPT__(, ) TQ_MAP(TQ_PARAM_DECL, __VA_ARGS__)) \
    {                                                                                               \
        return ::tqbse::guarded([&] {                                                               \
            ::tqbse::ServerConnection* const connection = ::tqbse::sessionConnection(session);      \
            return connection == nullptr ? ::tqbse::kUnknownError                                   \
                                         : ::tqbse::callRemote(*connection, ::tqbse::calls::name,   \
                                                               {TQ_MAP(TQ_PARAM_ARG, __VA_ARGS__)}); \
        });                                                                                         \
    }
// Rows whose exports are written by hand define nothing here.
#define TQ_DEFINE_EXPORT_RemoteOwn(name, ...)
#define TQ_DEFINE_EXPORT_Local(name, ...)
