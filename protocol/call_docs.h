// The documentation of every export, gathered from protocol/rows/docs/ and
// read beside the call rows: the public header's per-export comments, the
// tool's `describe` and `list --json`, the Python docstrings, the man page's
// call list and the HTML reference are all generated from it.
// protocol/call_docs.cpp checks at compile time that every row and every
// parameter is documented and that no text names a row or parameter that
// does not exist.
#pragma once

#include <span>
#include <utility>
#include <string_view>

#include "protocol/call_table.h"
#include "protocol/result_codes.h"
#include "protocol/rows/docs/core.h"
#include "protocol/rows/docs/debug_filters.h"
#include "protocol/rows/docs/file_lists.h"
#include "protocol/rows/docs/lte_results.h"
#include "protocol/rows/docs/protocol_results.h"
#include "protocol/rows/docs/rf_settings.h"
#include "protocol/rows/docs/scenarios.h"
#include "protocol/rows/docs/shared.h"
#include "protocol/rows/docs/test_cases.h"

namespace tqbse {

inline constexpr std::span<const CallDoc> kCallDocTables[] = {
    docs::kCore,         docs::kRfSettings, docs::kTestCases,    docs::kProtocolResults, docs::kLteResults,
    docs::kScenarios,    docs::kDebugFilters, docs::kFileLists,
};

// The export's documentation, by its name without the prefix; null if none.
constexpr const CallDoc* findCallDoc(std::string_view shortName)
{
    for (std::span<const CallDoc> table : kCallDocTables)
        for (const CallDoc& d : table)
            if (shortName == d.name)
                return &d;
    return nullptr;
}

constexpr const CallDoc* findCallDoc(const CallDesc& call) { return findCallDoc(call.shortName()); }

// The export's own entry for a parameter; null if it has none.
constexpr const ParamDoc* findParamDoc(const CallDoc& doc, std::string_view name)
{
    for (const ParamDoc& p : doc.params)
        if (p.name && name == p.name)
            return &p;
    return nullptr;
}

// What parameter i of the row means: the export's own text, else its role's;
// null when neither documents it.
constexpr const char* paramText(const CallDesc& call, int i)
{
    if (const CallDoc* doc = findCallDoc(call))
        if (const ParamDoc* p = findParamDoc(*doc, call.params[i].name))
            return p->text;
    for (const RoleDoc& r : docs::kRoleDocs)
        if (r.role == call.params[i].role)
            return r.text;
    return nullptr;
}

// The example value of a typed parameter: the export's own, else one by kind.
constexpr std::string_view paramExample(const CallDesc& call, int i)
{
    if (const CallDoc* doc = findCallDoc(call))
        if (const ParamDoc* p = findParamDoc(*doc, call.params[i].name); p && p->example[0] != '\0')
            return p->example;
    const ParamRole role = call.params[i].role;
    if (!isTyped(role))
        return "0";
    if (role == ParamRole::InBool)
        return "1";
    switch (traits(role).tag) {
    case WireTag::Float: return "0.5";
    case WireTag::Double: return "1.5";
    case WireTag::String: return "name";
    case WireTag::Int:
    case WireTag::DoubleArray:
    case WireTag::None: break;
    }
    return "0";
}

constexpr const FamilyDoc& familyDoc(Family family) { return docs::kFamilies[static_cast<std::size_t>(family)]; }

// What a result code means; null for a code without an entry.
constexpr const char* codeMeaning(int32_t code)
{
    for (const CodeDoc& c : docs::kCodeDocs)
        if (c.code == code)
            return c.meaning;
    return nullptr;
}

// Every code an export can return: 0, then warnings, then failures from -1
// down. A local export's are its documentation's list; a remote export's
// are those every exchange can end with, those its outputs add, and its own.
struct CallCodes {
    int32_t values[kHighestCode - kLowestCode + 1]{};
    int count = 0;

    constexpr bool contains(int32_t code) const
    {
        for (int i = 0; i < count; ++i)
            if (values[i] == code)
                return true;
        return false;
    }
    constexpr void add(int32_t code)
    {
        if (!contains(code))
            values[count++] = code;
    }
    constexpr std::span<const int32_t> list() const { return {values, static_cast<std::size_t>(count)}; }
};

constexpr CallCodes callCodes(const CallDesc& call)
{
    CallCodes found;
    const CallDoc* doc = findCallDoc(call);
    if (call.kind != CallKind::Local) {
        for (int32_t c : {kSuccess, kNoResponse, kReplyOutOfOrder, kReplyParameterCount, kNoResultCode,
                          kTransmissionError, kFunctionNotFound, kParameterCount, kInternalObjectError,
                          kServerDllNotLoaded, kUnexpectedParameterType})
            found.add(c);
        for (int i = 0; i < call.outputCount; ++i) {
            for (int32_t c : {kUnknownError, kParameterFormat, kParameterType, kParameterContents})
                found.add(c);
            const ParamRole role = call.outputs[i].role;
            if (role == ParamRole::OutText || role == ParamRole::OutArray)
                found.add(kBufferTooSmall);
            if (role == ParamRole::OutArray) {
                found.add(kArrayCount);
                found.add(kArrayLength);
            }
        }
    }
    if (doc)
        for (int i = 0; i < doc->codes.count; ++i)
            found.add(doc->codes.values[i]);
    // In order: 0, 1, 2, -1, -2, ...
    auto rank = [](int32_t c) { return c >= 0 ? c : kHighestCode - c; };
    for (int i = 1; i < found.count; ++i)
        for (int j = i; j > 0 && rank(found.values[j]) < rank(found.values[j - 1]); --j)
            std::swap(found.values[j], found.values[j - 1]);
    return found;
}

// True when the export and each of its parameters have a text, and its
// documentation names no parameter the row lacks.
constexpr bool callDocumented(const CallDesc& call)
{
    const CallDoc* doc = findCallDoc(call);
    if (!doc || std::string_view(doc->summary).empty())
        return false;
    for (int i = 0; i < call.paramCount; ++i) {
        const char* text = paramText(call, i);
        if (!text || std::string_view(text).empty())
            return false;
    }
    for (const ParamDoc& p : doc->params) {
        if (!p.name)
            continue;
        bool found = false;
        for (int i = 0; i < call.paramCount; ++i)
            found = found || std::string_view(call.params[i].name) == p.name;
        if (!found)
            return false;
    }
    for (int i = 0; i < doc->codes.count; ++i)
        if (!codeMeaning(doc->codes.values[i]))
            return false;
    return true;
}

} // namespace tqbse
