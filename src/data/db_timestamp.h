// The "last updated" text of the JSON databases: local wall-clock time as
// "%A %b %d %Y %T", ".", the milliseconds since the epoch modulo 100000 on five
// digits, " ", the time-zone abbreviation. E.g. "Saturday Dec 05 2026 19:00:50.50123 UTC".
#pragma once

#include <string>

std::string db_timestamp_text();
