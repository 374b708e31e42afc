// Receiver/transmitter settings and measurement-state exports, each generated from its row in rf_settings_calls.h.
#include "api/rf_settings_calls.h"
#include "core/call_remote.h"
#include "core/export.h"

TQ_RF_SETTINGS_CALLS(TQ_DEFINE_EXPORT)
