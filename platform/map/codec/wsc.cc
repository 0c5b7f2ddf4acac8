#include "map/codec/wsc.h"

#include <cstring>

bool wsc_parse_attributes(const uint8_t* frame, size_t len, std::vector<wsc_attribute>& out) {
    out.clear();
    size_t at = 0;
    while (at < len) {
        if (len - at < 4)
            return false;
        uint16_t type = uint16_t((frame[at] << 8) | frame[at + 1]);
        size_t n = (size_t(frame[at + 2]) << 8) | frame[at + 3];
        if (len - at - 4 < n)
            return false;
        out.push_back({type, std::vector<uint8_t>(frame + at + 4, frame + at + 4 + n)});
        at += 4 + n;
    }
    return true;
}

bool wsc_build_attributes(const std::vector<wsc_attribute>& attrs, std::vector<uint8_t>& out) {
    for (const auto& a : attrs) {
        if (a.value.size() > 0xFFFF)
            return false;
        out.push_back(uint8_t(a.type >> 8));
        out.push_back(uint8_t(a.type));
        out.push_back(uint8_t(a.value.size() >> 8));
        out.push_back(uint8_t(a.value.size()));
        out.insert(out.end(), a.value.begin(), a.value.end());
    }
    return true;
}

namespace {

bool take_text(const wsc_attribute& a, size_t cap, std::string& s) {
    if (a.value.size() > cap)
        return false;
    s.assign(a.value.begin(), a.value.end());
    return true;
}

void put(std::vector<wsc_attribute>& v, uint16_t type, const uint8_t* p, size_t n) {
    v.push_back({type, std::vector<uint8_t>(p, p + n)});
}
void put_text(std::vector<wsc_attribute>& v, uint16_t type, const std::string& s) {
    put(v, type, reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

}  // namespace

bool wsc_parse_message(const uint8_t* frame, size_t len, wsc_message& out) {
    std::vector<wsc_attribute> attrs;
    if (!wsc_parse_attributes(frame, len, attrs))
        return false;
    wsc_message m;
    enum : unsigned {
        TYPE = 1,
        UUID = 2,
        MACA = 4,
        MANU = 8,
        MNAME = 16,
        MNUM = 32,
        SERIAL = 64,
        DNAME = 128,
        BANDS = 256
    };
    unsigned seen = 0;
    for (auto& a : attrs) {
        const size_t n = a.value.size();
        switch (a.type) {
            case WSC_ATTR_VERSION:
                if (n != 1)
                    return false;
                m.version = a.value[0];
                break;
            case WSC_ATTR_MESSAGE_TYPE:
                if (n != 1)
                    return false;
                m.message_type = a.value[0];
                seen |= TYPE;
                break;
            case WSC_ATTR_UUID_E:
            case WSC_ATTR_UUID_R:
                if (n != 16)
                    return false;
                std::memcpy(m.uuid, a.value.data(), 16);
                seen |= UUID;
                break;
            case WSC_ATTR_MAC_ADDRESS:
                if (n != 6)
                    return false;
                m.mac_address = MAC(a.value.data());
                seen |= MACA;
                break;
            case WSC_ATTR_MANUFACTURER:
                if (!take_text(a, 64, m.manufacturer))
                    return false;
                seen |= MANU;
                break;
            case WSC_ATTR_MODEL_NAME:
                if (!take_text(a, 32, m.model_name))
                    return false;
                seen |= MNAME;
                break;
            case WSC_ATTR_MODEL_NUMBER:
                if (!take_text(a, 32, m.model_number))
                    return false;
                seen |= MNUM;
                break;
            case WSC_ATTR_SERIAL_NUMBER:
                if (!take_text(a, 32, m.serial_number))
                    return false;
                seen |= SERIAL;
                break;
            case WSC_ATTR_DEVICE_NAME:
                if (!take_text(a, 32, m.device_name))
                    return false;
                seen |= DNAME;
                break;
            case WSC_ATTR_RF_BANDS:
                if (n != 1)
                    return false;
                m.rf_bands = a.value[0];
                seen |= BANDS;
                break;
            default:
                m.other.push_back(std::move(a));
        }
    }
    if (!(seen & TYPE))
        return false;
    if (m.message_type == WSC_MSG_M1) {
        const unsigned need = TYPE | UUID | MACA | MANU | MNAME | MNUM | SERIAL | DNAME | BANDS;
        if ((seen & need) != need)
            return false;
    } else if (m.message_type != WSC_MSG_M2) {
        return false;
    }
    out = std::move(m);
    return true;
}

bool wsc_build_message(const wsc_message& m, std::vector<uint8_t>& out) {
    if (m.manufacturer.size() > 64 || m.model_name.size() > 32 || m.model_number.size() > 32 ||
        m.serial_number.size() > 32 || m.device_name.size() > 32)
        return false;
    std::vector<wsc_attribute> v;
    v.reserve(10 + m.other.size());
    put(v, WSC_ATTR_VERSION, &m.version, 1);
    put(v, WSC_ATTR_MESSAGE_TYPE, &m.message_type, 1);
    bool m1 = m.message_type == WSC_MSG_M1;
    put(v, m1 ? WSC_ATTR_UUID_E : WSC_ATTR_UUID_R, m.uuid, 16);
    if (m1)
        put(v, WSC_ATTR_MAC_ADDRESS, m.mac_address.data(), 6);
    put_text(v, WSC_ATTR_MANUFACTURER, m.manufacturer);
    put_text(v, WSC_ATTR_MODEL_NAME, m.model_name);
    put_text(v, WSC_ATTR_MODEL_NUMBER, m.model_number);
    put_text(v, WSC_ATTR_SERIAL_NUMBER, m.serial_number);
    put_text(v, WSC_ATTR_DEVICE_NAME, m.device_name);
    put(v, WSC_ATTR_RF_BANDS, &m.rf_bands, 1);
    v.insert(v.end(), m.other.begin(), m.other.end());
    return wsc_build_attributes(v, out);
}
