// The platform's side of the maker's extenders: every call journalled.
#include <cstring>

#include "nal/journal.h"
#include "nal/nal.h"

static_assert(offsetof(nal_sync_result_t, sn) == 4, "sync result sn");
static_assert(offsetof(nal_sync_result_t, len) == 72, "sync result len");
static_assert(offsetof(nal_sync_result_t, data) == kNalSyncResultHeader, "sync result data");

namespace {
// The serial number field as text (bounded, NUL or not).
std::string sn_text(const char* sn, size_t width) {
    size_t n = 0;
    while (n < width && sn[n] != '\0')
        ++n;
    return std::string(sn, n);
}
}  // namespace

int nal_setSyncResult(const nal_sync_result_t* r) {
    if (r == nullptr || r->len > kNalSyncResultMaxData) {
        nal_journal("nal_setSyncResult").str("error", r ? "length" : "null");
        return -1;
    }
    nal_journal("nal_setSyncResult")
        .num("result", r->result)
        .str("sn", sn_text(r->sn, sizeof r->sn))
        .num("len", r->len)
        .hex("data", r->data, r->len);
    return 0;
}

int nal_notifyApOnlineStatus(const char* sn, int online, const char* mac) {
    if (sn == nullptr || *sn == '\0')
        return -1;
    nal_journal("nal_notifyApOnlineStatus")
        .str("sn", sn)
        .num("online", online ? 1 : 0)
        .str("mac", mac ? mac : "");
    return 0;
}

int nal_setExNotification(const char* sn, uint16_t event, const uint8_t* data, size_t len) {
    if (sn == nullptr || (len > 0 && data == nullptr))
        return -1;
    nal_journal("nal_setExNotification")
        .str("sn", sn)
        .num("event", event)
        .num("len", static_cast<long long>(len))
        .hex("data", data, len);
    return 0;
}

int nal_getVirtualSN(char* buffer, size_t size) {
    std::string sn;
    int rc = 0;
    if (!nal_platform_get_string("virtual-serial-number", sn) || sn.empty() || sn.size() > 32 ||
        std::memchr(sn.data(), '\0', sn.size()) != nullptr) {
        rc = -1;
    } else if (buffer == nullptr || size <= sn.size()) {
        rc = -2;
    } else {
        std::memcpy(buffer, sn.c_str(), sn.size() + 1);
    }
    nal_journal("nal_getVirtualSN").num("result", rc).str("sn", rc == 0 ? sn : std::string());
    return rc;
}

int nal_getSteeringPolicy(char* buffer, size_t size) {
    std::string text;
    int rc = 0;
    if (!nal_platform_get_string("steering-policy", text) &&
        !nal_platform_get_json("steering-policy", text)) {
        rc = -1;
    } else if (std::memchr(text.data(), '\0', text.size()) != nullptr) {
        rc = -1;
    } else if (buffer == nullptr || size <= text.size()) {
        rc = -2;
    } else {
        std::memcpy(buffer, text.c_str(), text.size() + 1);
    }
    nal_journal("nal_getSteeringPolicy")
        .num("result", rc)
        .num("len", static_cast<long long>(text.size()));
    return rc;
}
