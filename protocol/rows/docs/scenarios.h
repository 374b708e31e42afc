// What the scenario exports do, and what their parameters mean. Scenarios
// are texts the server stores by name.
#pragma once
#include "protocol/call_doc_types.h"

namespace tqbse::docs {

#define TQ_DOC_INDEX "the scenario, 0 .. count-1 as Scenario_Count_Get reports; sent unchanged"
#define TQ_DOC_NAME "the scenario's name; left out of the request when longer than nameLimit"

inline constexpr CallDoc kScenarios[] = {
    {"Scenario_Count_Get", "Reads how many scenarios the server holds.",
     {{"count", "receives the number of scenarios"}}},
    {"Scenario_NameLength_Get", "Reads the length of a scenario's name, as the server reports it.",
     {{"index", TQ_DOC_INDEX, "0"}, {"length", "receives the length, passed on unchanged"}}},
    {"Scenario_Name_Get", "Copies a scenario's name into a buffer.",
     {{"index", TQ_DOC_INDEX, "0"}, {"buffer", "receives the name and its terminating zero; untouched on -13"}}},
    {"Scenario_Upload",
     "Stores a scenario's text on the server under a name (the emulator replaces a text of the same name). The "
     "content travels unescaped: it comes back intact only if its parentheses pair up.",
     {{"name", TQ_DOC_NAME, "my_scenario"},
      {"content", "the scenario's text; left out of the request when longer than contentLimit", "<scenario/>"}}},
    {"Scenario_DownloadSize_Get", "Reads the size of a stored scenario's text, as the server reports it.",
     {{"name", TQ_DOC_NAME, "Idle_Camping"}, {"size", "receives the size (the emulator: bytes without the terminator)"}}},
    {"Scenario_Download", "Copies a stored scenario's text into a buffer.",
     {{"name", TQ_DOC_NAME, "Idle_Camping"},
      {"buffer", "receives the text and its terminating zero; untouched on -13"}}},
    {"Scenario_Execute",
     "Starts a stored scenario (the emulator: it runs for a configured time, 1.5 s by default; executing again "
     "restarts it).",
     {{"name", TQ_DOC_NAME, "Idle_Camping"}}},
    {"Scenario_IsRunning_Get", "Reads whether a scenario is running.",
     {{"running", "receives the flag, unchanged; non-zero while a scenario runs"}}},
};

#undef TQ_DOC_INDEX
#undef TQ_DOC_NAME

} // namespace tqbse::docs
