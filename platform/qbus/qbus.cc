#include "qbus/qbus.h"

#include "nal/journal.h"

// Until the bus connection lands, signals are journalled and reported as not sent.
int qbusSendSignal(const char* interface_name, const char* member, const void* data, size_t len) {
    nal_journal("qbusSendSignal")
        .str("interface", interface_name)
        .str("member", member)
        .hex("hex", data, data ? len : 0);
    return -1;
}

int qbusFlush() {
    return 0;
}

int qbusSendSignalOnce(const char* interface_name, const char* member) {
    nal_journal("qbusSendSignal")
        .str("interface", interface_name)
        .str("member", member)
        .hex("hex", nullptr, 0);
    return -1;
}
