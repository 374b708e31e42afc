// The remote call procedure every remote export follows: build the request
// from the call description, exchange it, check the reply, write outputs.
#pragma once

#include <QByteArray>

#include <initializer_list>

#include "core/call_description.h"
#include "core/codec.h"
#include "core/function_ref.h"

namespace tqbse {

// Sends one request and returns the whole reply; the empty text on failure.
using Exchange = FunctionRef<QByteArray(const QByteArray& request)>;

// The exchange over the process-wide ClientSocket. An empty request is not sent.
QByteArray sendAndReceive(const QByteArray& request);

// "name=" followed by the input tokens in wire order.
QByteArray buildRequest(const CallDesc& call, const ArgValue* args);

// Checks a reply's name (-10), first parameter (-11) and result token (-12);
// an empty reply gives -14. On 0, `message` and `result` are filled.
int32_t checkReply(const CallDesc& call, const QByteArray& reply, codec::SplitMessage* message,
                   int32_t* result);

// Writes the outputs from a checked reply with a non-negative result, in
// reply order, stopping at the first failure. Returns 0 or that failure.
int32_t writeOutputs(const CallDesc& call, const ArgValue* args, const codec::SplitMessage& message);

// The whole procedure. `args` holds the export's arguments in C order.
int32_t callRemote(const CallDesc& call, const ArgValue* args, Exchange exchange);
int32_t callRemote(const CallDesc& call, std::initializer_list<ArgValue> args);

} // namespace tqbse

// Defines a family's export from its row: a thin function over callRemote.
#define TQ_DEFINE_EXPORT(kind, family, name, ...) TQ_DEFINE_EXPORT_##kind(name, __VA_ARGS__)
#define TQ_DEFINE_EXPORT_Remote(name, ...)                                                          \
    TQ_EXPORT int32_t tqBsePluginControlDll_##name(TQ_MAP(TQ_PARAM_DECL, __VA_ARGS__))              \
    {                                                                                               \
        return ::tqbse::callRemote(::tqbse::calls::name, {TQ_MAP(TQ_PARAM_ARG, __VA_ARGS__)});      \
    }
// Rows whose exports are written by hand define nothing here.
#define TQ_DEFINE_EXPORT_RemoteOwn(name, ...)
#define TQ_DEFINE_EXPORT_Local(name, ...)
