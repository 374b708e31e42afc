// Receiver/transmitter settings and measurement-state exports, each generated from its row in protocol/rows/rf_settings.h.
#include "protocol/rows/rf_settings.h"
#include "api/export.h"

TQ_RF_SETTINGS_CALLS(TQ_DEFINE_EXPORT)
