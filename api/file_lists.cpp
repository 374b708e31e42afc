// Protocol message XML file and system parameter file exports, each generated from its row in protocol/rows/file_lists.h.
#include "protocol/rows/file_lists.h"
#include "api/export.h"

TQ_FILE_LISTS_CALLS(TQ_DEFINE_EXPORT)
