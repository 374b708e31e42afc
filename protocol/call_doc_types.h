// The shapes of the documentation kept beside the call rows: what an export
// does, what each of its parameters means, and the codes it returns besides
// those its parameters' roles imply. protocol/call_docs.h gathers the tables
// and checks them against the rows at compile time.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "protocol/call_description.h"

namespace tqbse {

// Result codes an export returns beyond those derived from its row.
struct CodeList {
    int8_t values[8]{};
    uint8_t count = 0;

    constexpr CodeList() = default;
    constexpr CodeList(std::initializer_list<int> codes)
    {
        if (codes.size() > std::size(values))
            throw "too many codes";
        for (int c : codes)
            values[count++] = static_cast<int8_t>(c);
    }
};

struct ParamDoc {
    const char* name;        // the parameter's name in the row
    const char* text;        // what it means and what the library does with it
    const char* example = ""; // a value for the tool's example; empty: by kind
};

struct CallDoc {
    const char* name;    // the export's name without the prefix
    const char* summary; // what the export does, in a sentence or a few
    ParamDoc params[kMaxParams]{};
    // For a local export: every code it returns. For a remote export: codes
    // of its own besides those that every remote call and its outputs give.
    CodeList codes{};
};

// The text of a parameter whose meaning comes from its role alone (limits,
// buffer sizes, capacities): one text for every export.
struct RoleDoc {
    ParamRole role;
    const char* text;
};

struct FamilyDoc {
    Family family;
    const char* slug;  // file and anchor name: "rf-settings"
    const char* title; // "RF settings and measurement state"
    const char* intro; // what the family is for
};

struct CodeDoc {
    int32_t code;
    const char* meaning; // when it happens and what the caller can do
};

} // namespace tqbse
