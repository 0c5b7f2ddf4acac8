// Build identification compiled into the daemon (values set by the build).
#pragma once

extern const char* const g_szBuildVersion;  // the version, e.g. "1.0.0"
extern const char* const g_szMetaData;      // the source commit identifier
extern const char* const g_szdescribe;      // the daemon's short name, "ozr"
extern const char* const g_szBuildTag;      // one-line build tag, printed nowhere
