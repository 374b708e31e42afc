// Rows of the test-case list and run exports.
#pragma once
#include "protocol/call_description.h"

#define TQ_TEST_CASES_CALLS(X)                                                                     \
    X(Remote, TestCases, TestCase_Count_Get, (OutInt, count))                                      \
    X(Remote, TestCases, TestCase_NameLength_Get, (InInt, index), (OutInt, length))                \
    X(Remote, TestCases, TestCase_Name_Get, (InInt, index),                                        \
      (OutText, buffer, TestCase_NameLength_Get),                                                  \
      (BufferSize, bufferSize))                                                                    \
    X(Remote, TestCases, TestCase_GroupNameLength_Get, (InInt, index), (OutInt, length))           \
    X(Remote, TestCases, TestCase_GroupName_Get, (InInt, index),                                   \
      (OutText, buffer, TestCase_GroupNameLength_Get),                                             \
      (BufferSize, bufferSize))                                                                    \
    X(Remote, TestCases, TestCase_Run, (InInt, index))

namespace tqbse::calls {
TQ_TEST_CASES_CALLS(TQ_DESCRIBE_CALL)
}
