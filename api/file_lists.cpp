// Protocol message XML file and system parameter file exports, each generated from its row in file_lists_calls.h.
#include "api/file_lists_calls.h"
#include "core/call_remote.h"
#include "core/export.h"

TQ_FILE_LISTS_CALLS(TQ_DEFINE_EXPORT)
