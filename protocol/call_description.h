// Call descriptions: one row of data per export. The library's exports, the
// reference emulator's dispatch and the command-line tool's argument parsing
// are all generated from, or driven by, these rows.
//
// A row lists the export's C parameters in argument order, each with a role.
// The wire order is derived from it: value inputs travel in argument order,
// then the buffer size or array capacity travels last as an integer, and
// buffers, text limits and local-only parameters never travel. Outputs are
// read from the reply in argument order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace tqbse {

// How a parameter's text travels: the codec tag of its token.
enum class WireTag : uint8_t { None, Int, Float, Double, String, DoubleArray };

// What a parameter is to the call.
enum class RoleClass : uint8_t {
    Input,     // a value the request carries, in argument order
    Limit,     // the length limit of the text input before it; never sent
    Output,    // written from the reply, in argument order
    SentSize,  // size of an output buffer or array; sent last as (n=)
    Local,     // used by the library only; never sent
    LocalSize, // size of an output buffer that the library checks itself; never sent
};

// The one table of parameter roles:
// X(role, C type, kind shown to users, token tag, class, reply tokens read)
#define TQ_PARAM_ROLES(X)                                                                          \
    X(InInt, int32_t, "int", Int, Input, 0)            /* sent as (n=) */                          \
    X(InBool, int32_t, "flag", Int, Input, 0)          /* flag, sent unchanged as (n=) */          \
    X(InFloat, float, "float", Float, Input, 0)        /* sent as (f=) */                          \
    X(InDouble, double, "double", Double, Input, 0)    /* sent as (d=) */                          \
    X(InText, const char*, "text", String, Input, 0)   /* (s=) unless longer than its limit */     \
    X(TextLimit, int32_t, "size", None, Limit, 0)      /* limit of the preceding InText */         \
    X(OutInt, int32_t*, "int", Int, Output, 1)         /* read from (n=) */                        \
    X(OutBool, int32_t*, "flag", Int, Output, 1)       /* flag, read from (n=) unchanged */        \
    X(OutFloat, float*, "float", Float, Output, 1)     /* read from (f=) */                        \
    X(OutDouble, double*, "double", Double, Output, 1) /* read from (d=) */                        \
    X(OutText, char*, "text", String, Output, 1)       /* buffer bounded by the next size param */ \
    X(BufferSize, int32_t, "size", Int, SentSize, 0)   /* size of the OutText buffer */            \
    X(OutArray, double*, "doubles", DoubleArray, Output, 1) /* bounded by the Capacity param */    \
    X(Capacity, int32_t, "size", Int, SentSize, 0)     /* element capacity of every OutArray */    \
    X(OutVersion, int32_t*, "version", Int, Output, 4) /* int32_t[4] from four (n=) tokens */      \
    X(LocalInt, int32_t, "int", None, Local, 0)        /* used by the library only */              \
    X(LocalSize, int32_t, "size", None, LocalSize, 0)  /* OutText size checked locally */

#define TQ_ROLE_ENUMERATOR(role, ctype, kind, tag, cls, tokens) role,
enum class ParamRole : uint8_t { TQ_PARAM_ROLES(TQ_ROLE_ENUMERATOR) };
#undef TQ_ROLE_ENUMERATOR

struct RoleTraits {
    const char* kind; // int, flag, float, double, text, doubles, version, size
    WireTag tag;
    RoleClass roleClass;
    uint8_t replyTokens; // tokens an output reads from the reply
};

inline constexpr RoleTraits kRoleTraits[] = {
#define TQ_ROLE_TRAITS(role, ctype, kind, tag, cls, tokens) {kind, WireTag::tag, RoleClass::cls, tokens},
    TQ_PARAM_ROLES(TQ_ROLE_TRAITS)
#undef TQ_ROLE_TRAITS
};

constexpr const RoleTraits& traits(ParamRole r) { return kRoleTraits[static_cast<std::size_t>(r)]; }

// The C type of a role's parameter.
template <ParamRole R>
struct RoleType;
#define TQ_ROLE_TYPE(role, ctype, kind, tag, cls, tokens)                                          \
    template <>                                                                                    \
    struct RoleType<ParamRole::role> {                                                             \
        using type = ctype;                                                                        \
    };
TQ_PARAM_ROLES(TQ_ROLE_TYPE)
#undef TQ_ROLE_TYPE
template <ParamRole R>
using RoleCType = typename RoleType<R>::type;

enum class CallKind : uint8_t {
    Remote,      // export generated from the row: exactly one callRemote
    RemoteOwn,   // remote call with rules of its own; export written by hand
    Local,       // never sends a request
};

// Whether an export of this kind has a session twin (tqbse_<name>, taking
// the session first): every export that calls the server does.
constexpr bool hasSessionTwin(CallKind kind) { return kind != CallKind::Local; }
// The session twins' prefix, in place of kExportPrefix.
inline constexpr std::string_view kSessionPrefix = "tqbse_";

enum class Family : uint8_t {
    Connection,
    ErrorMessages,
    ServerQueries,
    RfSettings,
    TestCases,
    ProtocolResults,
    LteResults,
    Scenarios,
    DebugFilters,
    FileLists,
};

inline constexpr int kMaxParams = 6;
inline constexpr std::string_view kExportPrefix = "tqBsePluginControlDll_";

struct ParamDesc {
    ParamRole role;
    const char* name;
    // For a text or array output: the short name of the query that reports
    // how big it is (its length or size, terminator excluded where the
    // server says so). Empty for every other parameter.
    const char* sizedBy = "";
};

// One token of the request, in wire order.
struct WireInput {
    ParamRole role;     // InInt, InBool, InFloat, InDouble, InText, BufferSize or Capacity
    uint8_t param;      // index of the C parameter that supplies the value
    uint8_t limitParam; // for InText: index of its TextLimit parameter
};

// One reply parameter after the result code, in reply order.
struct WireOutput {
    ParamRole role;     // OutInt, OutBool, OutFloat, OutDouble, OutText, OutArray or OutVersion
    uint8_t param;      // index of the C parameter that receives it
    uint8_t boundParam; // for OutText/OutArray: index of the size or capacity parameter
};

struct CallDesc {
    const char* name;  // full export name, also the request's and the reply's name
    CallKind kind;
    Family family;
    uint8_t paramCount;
    ParamDesc params[kMaxParams];
    uint8_t inputCount;
    WireInput inputs[kMaxParams];
    uint8_t outputCount;
    WireOutput outputs[kMaxParams];

    constexpr std::string_view fullName() const { return name; }
    constexpr std::string_view shortName() const { return fullName().substr(kExportPrefix.size()); }
};

constexpr bool isValueInput(ParamRole r) { return traits(r).roleClass == RoleClass::Input; }
constexpr bool isOutput(ParamRole r) { return traits(r).roleClass == RoleClass::Output; }
constexpr bool isSizeParam(ParamRole r)
{
    return traits(r).roleClass == RoleClass::SentSize || traits(r).roleClass == RoleClass::LocalSize;
}
// Parameters a user of the tool or a binding types: value inputs and the
// library-only integers. Limits, sizes and capacities are derived.
constexpr bool isTyped(ParamRole r)
{
    return traits(r).roleClass == RoleClass::Input || traits(r).roleClass == RoleClass::Local;
}

// Builds a row's wire layout from its parameter list at compile time.
constexpr CallDesc makeCall(const char* name, CallKind kind, Family family,
                            std::initializer_list<ParamDesc> params)
{
    CallDesc d{name, kind, family, 0, {}, 0, {}, 0, {}};
    if (params.size() > kMaxParams)
        throw "too many parameters";
    for (const ParamDesc& p : params)
        d.params[d.paramCount++] = p;

    auto findAfter = [&](int from, auto pred) -> int {
        for (int i = from + 1; i < d.paramCount; ++i)
            if (pred(d.params[i].role))
                return i;
        throw "call description lacks a size, capacity or limit parameter";
    };

    for (int i = 0; i < d.paramCount; ++i) {
        const ParamRole r = d.params[i].role;
        if (isValueInput(r)) {
            uint8_t limit = 0;
            if (r == ParamRole::InText) {
                if (i + 1 >= d.paramCount || d.params[i + 1].role != ParamRole::TextLimit)
                    throw "a text input must be followed by its limit";
                limit = static_cast<uint8_t>(i + 1);
            }
            d.inputs[d.inputCount++] = {r, static_cast<uint8_t>(i), limit};
        }
    }
    for (int i = 0; i < d.paramCount; ++i) {
        const ParamRole r = d.params[i].role;
        if (r == ParamRole::BufferSize || r == ParamRole::Capacity)
            d.inputs[d.inputCount++] = {ParamRole::InInt, static_cast<uint8_t>(i), 0};
    }
    for (int i = 0; i < d.paramCount; ++i) {
        const ParamRole r = d.params[i].role;
        if (!isOutput(r))
            continue;
        uint8_t bound = 0;
        if (r == ParamRole::OutText)
            bound = static_cast<uint8_t>(findAfter(i, [](ParamRole x) {
                return x == ParamRole::BufferSize || x == ParamRole::LocalSize;
            }));
        else if (r == ParamRole::OutArray)
            bound = static_cast<uint8_t>(findAfter(i, [](ParamRole x) { return x == ParamRole::Capacity; }));
        d.outputs[d.outputCount++] = {r, static_cast<uint8_t>(i), bound};
    }
    for (int i = 0; i < d.paramCount; ++i) {
        const ParamRole r = d.params[i].role;
        const bool sized = r == ParamRole::OutText || r == ParamRole::OutArray;
        if (sized != (d.params[i].sizedBy[0] != '\0'))
            throw "every text or array output, and only those, names the query that sizes it";
    }
    return d;
}

} // namespace tqbse

// ---- Row macros ---------------------------------------------------------
// A family header lists its rows as X(kind, family, name, (ROLE, param)...).
// The macros below expand such a list into descriptors, export definitions
// or dispatchers (client/c_arguments.h adds those over C arguments).

#define TQ_UNPAREN(...) __VA_ARGS__
#define TQ_APPLY(M, ...) M(__VA_ARGS__)
#define TQ_NARGS(...) TQ_NARGS_(__VA_ARGS__ __VA_OPT__(, ) 6, 5, 4, 3, 2, 1, 0)
#define TQ_NARGS_(a, b, c, d, e, f, N, ...) N
#define TQ_CAT(a, b) TQ_CAT_(a, b)
#define TQ_CAT_(a, b) a##b

// TQ_MAP(M, (R0, n0), (R1, n1), ...) -> M(0, R0, n0), M(1, R1, n1), ...
#define TQ_MAP(M, ...) TQ_CAT(TQ_MAP_, TQ_NARGS(__VA_ARGS__))(M __VA_OPT__(, ) __VA_ARGS__)
#define TQ_MAP_0(M)
#define TQ_MAP_1(M, a) TQ_APPLY(M, 0, TQ_UNPAREN a)
#define TQ_MAP_2(M, a, b) TQ_MAP_1(M, a), TQ_APPLY(M, 1, TQ_UNPAREN b)
#define TQ_MAP_3(M, a, b, c) TQ_MAP_2(M, a, b), TQ_APPLY(M, 2, TQ_UNPAREN c)
#define TQ_MAP_4(M, a, b, c, d) TQ_MAP_3(M, a, b, c), TQ_APPLY(M, 3, TQ_UNPAREN d)
#define TQ_MAP_5(M, a, b, c, d, e) TQ_MAP_4(M, a, b, c, d), TQ_APPLY(M, 4, TQ_UNPAREN e)
#define TQ_MAP_6(M, a, b, c, d, e, f) TQ_MAP_5(M, a, b, c, d, e), TQ_APPLY(M, 5, TQ_UNPAREN f)

// A parameter is (role, name) or, for a text or array output, (role, name,
// the short name of the query that sizes it).
#define TQ_PARAM_DESC(i, role, pname, ...) ::tqbse::ParamDesc{::tqbse::ParamRole::role, #pname, "" #__VA_ARGS__}
#define TQ_PARAM_DECL(i, role, pname, ...) ::tqbse::RoleCType<::tqbse::ParamRole::role> pname

// X-macro: defines one constexpr CallDesc named after the export.
#define TQ_DESCRIBE_CALL(kind, family, name, ...)                                                  \
    inline constexpr ::tqbse::CallDesc name = ::tqbse::makeCall(                                    \
        "tqBsePluginControlDll_" #name, ::tqbse::CallKind::kind, ::tqbse::Family::family,          \
        {TQ_MAP(TQ_PARAM_DESC, __VA_ARGS__)});

// X-macro: a pointer to the descriptor, for building the whole table.
#define TQ_CALL_POINTER(kind, family, name, ...) &::tqbse::calls::name,
