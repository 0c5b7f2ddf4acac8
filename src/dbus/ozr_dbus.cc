#include "dbus/ozr_dbus.h"

#include "qbus/qbus.h"

int ozr_dbus_notify(const char* interface, const char* member, const void* data, int len) {
    if (interface == nullptr || member == nullptr || len < 0)
        return -1;
    int r = qbusSendSignal(interface, member, data, data ? static_cast<size_t>(len) : 0);
    qbusFlush();
    return r == 0 ? 0 : -1;
}
