// Rows of the scenario list, upload, download and execution exports.
#pragma once
#include "protocol/call_description.h"

#define TQ_SCENARIOS_CALLS(X)                                                                      \
    X(Remote, Scenarios, Scenario_Count_Get, (OutInt, count))                                      \
    X(Remote, Scenarios, Scenario_NameLength_Get, (InInt, index), (OutInt, length))                \
    X(Remote, Scenarios, Scenario_Name_Get, (InInt, index),                                        \
      (OutText, buffer, Scenario_NameLength_Get),                                                  \
      (BufferSize, bufferSize))                                                                    \
    X(Remote, Scenarios, Scenario_Upload, (InText, name), (TextLimit, nameLimit),                  \
      (InText, content), (TextLimit, contentLimit))                                                \
    X(Remote, Scenarios, Scenario_DownloadSize_Get, (InText, name), (TextLimit, nameLimit),        \
      (OutInt, size))                                                                              \
    X(Remote, Scenarios, Scenario_Download, (InText, name), (TextLimit, nameLimit),                \
      (OutText, buffer, Scenario_DownloadSize_Get), (BufferSize, bufferSize))                      \
    X(Remote, Scenarios, Scenario_Execute, (InText, name), (TextLimit, nameLimit))                 \
    X(Remote, Scenarios, Scenario_IsRunning_Get, (OutBool, running))

namespace tqbse::calls {
TQ_SCENARIOS_CALLS(TQ_DESCRIBE_CALL)
}
