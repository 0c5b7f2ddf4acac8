#include "main/build_info.h"

#ifndef OZR_VERSION
#define OZR_VERSION "0.0.0"
#endif
#ifndef OZR_COMMIT
#define OZR_COMMIT "unknown"
#endif

const char* const g_szBuildVersion = OZR_VERSION;
const char* const g_szMetaData = OZR_COMMIT;
const char* const g_szdescribe = "ozr";
const char* const g_szBuildTag = "ozr " OZR_VERSION " release";
