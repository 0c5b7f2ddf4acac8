#include "qbus/qbus.h"

int qbusSendSignal(const char* /*interface_name*/, const char* /*member*/,
                   const char* /*args_json*/) {
    // No-op until the D-Bus wrapper lands (see qbus.h).
    return 0;
}
