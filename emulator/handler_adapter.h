// The typed handler slot of a row: the signature a handler of that row must
// have, derived from its roles, and the adapter that decodes a request's
// values into the handler's arguments and encodes its outputs.
//
// A handler of row `calls::Name` is `handle_Name(Model&, const CallContext&,
// args...)` where args are the row's parameters in argument order: inputs by
// value (int32_t, float, double, WireText for a text that may be null; a
// buffer size or array capacity as int32_t), outputs by reference (int32_t,
// float, double, std::string, std::vector<double>, std::array<int32_t, 4>).
// Text limits and library-only parameters are not the handler's. A family
// lists its rows through TQ_HANDLER_ENTRY, so a row without a handler, or a
// handler whose arguments do not match its row, does not compile.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "emulator/handlers.h"
#include "protocol/call_frame.h"
#include "protocol/wire_value.h"

namespace tqbse::emu {

// What a parameter of role R is to a handler: `type` is the tuple of the
// argument it passes (empty for parameters the handler never sees).
template <ParamRole R>
struct HandlerArg;
#define TQ_HANDLER_ARG(role, ...)                                                                  \
    template <>                                                                                    \
    struct HandlerArg<ParamRole::role> {                                                           \
        using type = std::tuple<__VA_ARGS__>;                                                      \
    };
TQ_HANDLER_ARG(InInt, int32_t)
TQ_HANDLER_ARG(InBool, int32_t)
TQ_HANDLER_ARG(InFloat, float)
TQ_HANDLER_ARG(InDouble, double)
TQ_HANDLER_ARG(InText, WireText)
TQ_HANDLER_ARG(TextLimit)
TQ_HANDLER_ARG(OutInt, int32_t&)
TQ_HANDLER_ARG(OutBool, int32_t&)
TQ_HANDLER_ARG(OutFloat, float&)
TQ_HANDLER_ARG(OutDouble, double&)
TQ_HANDLER_ARG(OutText, std::string&)
TQ_HANDLER_ARG(BufferSize, int32_t)
TQ_HANDLER_ARG(OutArray, std::vector<double>&)
TQ_HANDLER_ARG(Capacity, int32_t)
TQ_HANDLER_ARG(OutVersion, std::array<int32_t, 4>&)
TQ_HANDLER_ARG(LocalInt)
TQ_HANDLER_ARG(LocalSize)
#undef TQ_HANDLER_ARG

namespace detail {

template <const CallDesc* Row, std::size_t I>
using ArgTuple = typename HandlerArg<Row->params[I].role>::type;

// The value a parameter's argument is made from: the argument without its
// reference, or an empty placeholder for a parameter the handler never sees.
struct Unseen {};
template <typename Tuple>
struct StoredOf {
    using type = Unseen;
};
template <typename T>
struct StoredOf<std::tuple<T>> {
    using type = std::remove_cvref_t<T>;
};

template <typename Args>
struct FunctionOf;
template <typename... A>
struct FunctionOf<std::tuple<A...>> {
    using type = ResultCode(Model&, const CallContext&, A...);
};

template <const CallDesc* Row, typename Seq = std::make_index_sequence<Row->paramCount>>
struct RowTypes;
template <const CallDesc* Row, std::size_t... I>
struct RowTypes<Row, std::index_sequence<I...>> {
    using Args = decltype(std::tuple_cat(std::declval<ArgTuple<Row, I>>()...));
    using Stored = std::tuple<typename StoredOf<ArgTuple<Row, I>>::type...>;
};

// Reads an input's typed value from the decoded request.
inline void readInput(const WireValue& v, int32_t& out) { out = v.asInt(); }
inline void readInput(const WireValue& v, float& out) { out = v.asFloat(); }
inline void readInput(const WireValue& v, double& out) { out = v.asDouble(); }
inline void readInput(const WireValue& v, WireText& out) { out = v.asText(); }

// Adds an output's value to the reply, in reply order.
inline void addOutput(CallFrame& f, int32_t v) { f.addOutput(WireValue::ofInt(v)); }
inline void addOutput(CallFrame& f, float v) { f.addOutput(WireValue::ofFloat(v)); }
inline void addOutput(CallFrame& f, double v) { f.addOutput(WireValue::ofDouble(v)); }
inline void addOutput(CallFrame& f, const std::string& v) { f.addOutput(WireValue::ofText(v)); }
inline void addOutput(CallFrame& f, std::vector<double>& v) { f.addOutput(std::move(v)); }
inline void addOutput(CallFrame& f, const std::array<int32_t, 4>& v)
{
    for (const int32_t element : v)
        f.addOutput(WireValue::ofInt(element));
}

} // namespace detail

// The function type of row Row's handler.
template <const CallDesc* Row>
using HandlerFunction = typename detail::FunctionOf<typename detail::RowTypes<Row>::Args>::type;

// Runs handler Fn for a request whose values `frame` holds.
template <const CallDesc* Row>
struct RowAdapter {
    template <HandlerFunction<Row>* Fn>
    static int32_t run(Model& m, CallFrame& frame, const CallContext& c)
    {
        return call<Fn>(m, frame, c, std::make_index_sequence<Row->paramCount>{});
    }

private:
    using Values = typename detail::RowTypes<Row>::Stored;

    static constexpr bool isOutput(std::size_t i) { return traits(Row->params[i].role).roleClass == RoleClass::Output; }
    template <std::size_t I>
    static constexpr bool isSeen()
    {
        return !std::is_same_v<std::tuple_element_t<I, Values>, detail::Unseen>;
    }
    // Parameter I's argument as a one-element tuple, or none when unseen.
    template <std::size_t I>
    static auto argument(Values& values)
    {
        if constexpr (isSeen<I>())
            return std::forward_as_tuple(std::get<I>(values));
        else
            return std::tuple<>();
    }

    template <HandlerFunction<Row>* Fn, std::size_t... I>
    static int32_t call(Model& m, CallFrame& frame, const CallContext& c, std::index_sequence<I...>)
    {
        Values values;
        (
            [&] {
                if constexpr (isSeen<I>() && !isOutput(I))
                    detail::readInput(frame.value(int(I)), std::get<I>(values));
            }(),
            ...);
        const int32_t rc = std::apply([&](auto&... args) { return Fn(m, c, args...); },
                                      std::tuple_cat(argument<I>(values)...));
        if (rc < kSuccess)
            return rc;
        (
            [&] {
                if constexpr (isOutput(I))
                    detail::addOutput(frame, std::get<I>(values));
            }(),
            ...);
        return rc;
    }
};

} // namespace tqbse::emu

// X-macro over a family's rows: the table entry of each row the emulator
// serves, naming its handler handle_<Name>. A Local row has none.
#define TQ_HANDLER_ENTRY(kind, family, name, ...) TQ_HANDLER_ENTRY_##kind(name)
#define TQ_HANDLER_ENTRY_Remote(name)                                                              \
    ::tqbse::emu::HandlerEntry{&::tqbse::calls::name,                                              \
                               &::tqbse::emu::RowAdapter<&::tqbse::calls::name>::run<handle_##name>},
#define TQ_HANDLER_ENTRY_RemoteOwn(name) TQ_HANDLER_ENTRY_Remote(name)
#define TQ_HANDLER_ENTRY_Local(name)
