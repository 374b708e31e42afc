// What the test-case exports do, and what their parameters mean. The server
// holds the list; the library keeps no copy of it.
#pragma once
#include "protocol/call_doc_types.h"

namespace tqbse::docs {

#define TQ_DOC_CASE "the test case, 0 .. count-1 as TestCase_Count_Get reports; sent unchanged"

inline constexpr CallDoc kTestCases[] = {
    {"TestCase_Count_Get", "Reads how many test cases the server offers.",
     {{"count", "receives the number of test cases"}}},
    {"TestCase_NameLength_Get",
     "Reads the length of a test case's name, as the server reports it (the emulator: bytes without the "
     "terminator, so a buffer needs one more).",
     {{"index", TQ_DOC_CASE, "0"}, {"length", "receives the length, passed on unchanged"}}},
    {"TestCase_Name_Get", "Copies a test case's name into a buffer.",
     {{"index", TQ_DOC_CASE, "0"}, {"buffer", "receives the name and its terminating zero; untouched on -13"}}},
    {"TestCase_GroupNameLength_Get",
     "Reads the length of the name of the group a test case belongs to, as the server reports it.",
     {{"index", TQ_DOC_CASE, "0"}, {"length", "receives the length, passed on unchanged"}}},
    {"TestCase_GroupName_Get", "Copies the name of the group a test case belongs to into a buffer.",
     {{"index", TQ_DOC_CASE, "0"},
      {"buffer", "receives the group name and its terminating zero; untouched on -13"}}},
    {"TestCase_Run", "Runs a test case; returns when the server replies, with the server's code.",
     {{"index", TQ_DOC_CASE, "0"}}},
};

#undef TQ_DOC_CASE

} // namespace tqbse::docs
