// JSON configuration requests (the "notifyZkecConfig" signal, and the platform steering
// policy read at start):
//
//   {"ozr-config": [{"config-type": "steering", "bsteer_en": 1, "bnd_prefer_entries": [...]}]}
#pragma once

#include "messages/bus_records.h"

// Applies every element of "ozr-config" (loop thread). Success when at least one element
// was applied; each refusal is logged with its reason.
ZkaOzrRet ozr_handle_json_config(const char* text);
