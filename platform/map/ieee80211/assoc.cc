// One-pass, bounds-checked reader of (re)association request bodies.
#include "map/ieee80211/assoc.h"

#include <cstring>

namespace {

enum : uint8_t {
    EID_SSID = 0,
    EID_SUPPORTED_CHANNELS = 36,
    EID_HT_CAPABILITIES = 45,
    EID_SUPPORTED_OP_CLASSES = 59,
    EID_RM_ENABLED_CAPABILITIES = 70,
    EID_EXT_CAPABILITIES = 127,
    EID_VHT_CAPABILITIES = 191,
    EID_VENDOR = 221,
    EID_EXTENSION = 255,
};
enum : uint8_t { EXT_HE_CAPABILITIES = 35, EXT_HE_6GHZ_BAND_CAPABILITIES = 59 };
enum : uint8_t { MBO_ATTR_NON_PREF_CHANNEL_REPORT = 2 };

constexpr size_t kAssocFixed = 4;     // Capability Information, Listen Interval
constexpr size_t kReassocFixed = 10;  // ... and Current AP Address

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Highest stream count whose 2-bit entry in a VHT/HE MCS map is not 3 (unsupported).
uint8_t nss_from_mcs_map(uint16_t map) {
    uint8_t nss = 0;
    for (uint8_t i = 0; i < 8; ++i)
        if (((map >> (2 * i)) & 3) != 3)
            nss = i + 1;
    return nss;
}

void raise(uint8_t& v, uint8_t candidate) {
    if (candidate > v)
        v = candidate;
}

struct Reader {
    map_sta_assoc_caps* c;
    bool is_5g;
    uint8_t seen_channel[32];  // bitmap: channel already listed

    void add_channel(unsigned ch) {
        if (seen_channel[ch >> 3] & (1u << (ch & 7)))
            return;
        if (c->supported_channel_count >= MAP_ASSOC_MAX_CHANNELS)
            return;
        seen_channel[ch >> 3] |= static_cast<uint8_t>(1u << (ch & 7));
        c->supported_channels[c->supported_channel_count++] = static_cast<uint8_t>(ch);
        c->supported_bands |= ch <= 14 && !is_5g ? MAP_STA_BAND_2G : MAP_STA_BAND_5G;
    }

    void supported_channels(const uint8_t* p, uint8_t len) {
        const unsigned step = is_5g ? 4 : 1;
        for (uint8_t i = 0; i + 1 < len; i += 2) {
            const unsigned first = p[i];
            for (unsigned n = 0; n < p[i + 1]; ++n) {
                const unsigned ch = first + n * step;
                if (ch > 255)
                    break;  // beyond any channel number: the pair is bogus
                add_channel(ch);
            }
        }
    }

    void op_class(uint8_t cls) {
        uint8_t band;
        uint16_t type;
        if (get_frequency_type(cls, &band, &type) == 0)
            c->supported_bands |= static_cast<uint8_t>(1u << band);
        if (c->op_class_count < MAP_ASSOC_MAX_OP_CLASSES)
            c->op_classes[c->op_class_count++] = cls;
    }

    void supported_op_classes(const uint8_t* p, uint8_t len) {
        // Current class, then the list up to the 130 separator or the zero
        // delimiter that introduce the (ignored) extension sequences.
        for (uint8_t i = 0; i < len; ++i) {
            if (i > 0 && (p[i] == 130 || p[i] == 0))
                break;
            op_class(p[i]);
        }
    }

    void ht(const uint8_t* p, uint8_t len) {
        if (len < 26)
            return;
        const uint16_t info = le16(p);
        const uint8_t* mcs = p + 3;
        c->ht_support = 1;
        raise(c->max_bandwidth, (info & (1u << 1)) ? 40 : 20);
        if (info & ((1u << 5) | (1u << 6)))
            c->sgi_support = 1;
        uint8_t rx = 0;
        for (uint8_t i = 0; i < 4; ++i)
            if (mcs[i])
                rx = i + 1;
        uint8_t tx = rx;
        const uint8_t txp = mcs[12];
        if ((txp & 1) && (txp & 2))
            tx = ((txp >> 2) & 3) + 1;
        raise(c->max_rx_spatial_streams, rx);
        raise(c->max_tx_spatial_streams, tx);
    }

    void vht(const uint8_t* p, uint8_t len) {
        if (len < 12)
            return;
        const uint32_t info = le32(p);
        c->vht_support = 1;
        // Some 2.4 GHz clients send VHT capabilities too; widths count on 5 GHz only.
        if (is_5g)
            raise(c->max_bandwidth, ((info >> 2) & 3) ? 160 : 80);
        if (info & ((1u << 5) | (1u << 6)))
            c->sgi_support = 1;
        raise(c->max_rx_spatial_streams, nss_from_mcs_map(le16(p + 4)));
        raise(c->max_tx_spatial_streams, nss_from_mcs_map(le16(p + 8)));
    }

    // P starts after the extension id: MAC capabilities (6), PHY capabilities
    // (11), then the <= 80 MHz receive and transmit MCS maps.
    void he(const uint8_t* p, uint8_t len) {
        if (len < 6 + 11 + 4)
            return;
        // PHY capabilities, channel width set in bits 1-7: bit 1 is 40 MHz in
        // 2.4 GHz, bits 2-4 are 40/80, 160 and 80+80 MHz in 5 GHz; each half
        // is read for the band the client associates in.
        const uint8_t width = p[6];
        c->he_support = 1;
        uint8_t bw = 20;
        if (!is_5g && (width & (1u << 1)))
            bw = 40;
        if (is_5g && (width & (1u << 2)))
            bw = 80;
        if (is_5g && (width & ((1u << 3) | (1u << 4))))
            bw = 160;
        raise(c->max_bandwidth, bw);
        raise(c->max_rx_spatial_streams, nss_from_mcs_map(le16(p + 17)));
        raise(c->max_tx_spatial_streams, nss_from_mcs_map(le16(p + 19)));
    }

    void ext_capabilities(const uint8_t* p, uint8_t len) {
        if (len > 0 && (p[0] & (1u << 2)))
            c->ecsa_support = 1;
        if (len > 2 && (p[2] & (1u << 3)))
            c->btm_support = 1;
    }

    // WFA MBO element: OUI 50-6F-9A, type 0x16, then attributes (id, length, body).
    void vendor(const uint8_t* p, uint8_t len) {
        if (len < 4 || p[0] != 0x50 || p[1] != 0x6f || p[2] != 0x9a || p[3] != 0x16)
            return;
        c->mbo_support = 1;
        uint8_t i = 4;
        while (i + 2 <= len) {
            const uint8_t id = p[i], alen = p[i + 1];
            if (alen > len - i - 2)
                return;
            const uint8_t* a = p + i + 2;
            // Operating class, channels..., preference, reason code.
            if (id == MBO_ATTR_NON_PREF_CHANNEL_REPORT && alen >= 3) {
                for (uint8_t k = 1; k + 2 < alen; ++k) {
                    if (c->non_pref_count >= MAP_ASSOC_MAX_NON_PREF)
                        break;
                    c->non_pref[c->non_pref_count++] = {a[0], a[k], a[alen - 2], a[alen - 1]};
                }
            }
            i = static_cast<uint8_t>(i + 2 + alen);
        }
    }

    void element(uint8_t id, const uint8_t* p, uint8_t len) {
        switch (id) {
            case EID_SUPPORTED_CHANNELS:
                supported_channels(p, len);
                break;
            case EID_HT_CAPABILITIES:
                ht(p, len);
                break;
            case EID_SUPPORTED_OP_CLASSES:
                supported_op_classes(p, len);
                break;
            case EID_RM_ENABLED_CAPABILITIES:
                c->rrm_support = 1;
                break;
            case EID_EXT_CAPABILITIES:
                ext_capabilities(p, len);
                break;
            case EID_VHT_CAPABILITIES:
                vht(p, len);
                break;
            case EID_VENDOR:
                vendor(p, len);
                break;
            case EID_EXTENSION:
                if (len >= 1 && p[0] == EXT_HE_CAPABILITIES)
                    he(p + 1, len - 1);
                if (len >= 1 && p[0] == EXT_HE_6GHZ_BAND_CAPABILITIES)
                    c->supported_bands |= MAP_STA_BAND_6G;
                break;
            default:
                break;
        }
    }
};

// An SSID element starts at OFF and fits the body.
bool ssid_element_at(const uint8_t* body, size_t len, size_t off, const uint8_t** ssid,
                     size_t* ssid_len) {
    if (off + 2 > len || body[off] != EID_SSID || body[off + 1] > 32)
        return false;
    if (off + 2 + body[off + 1] > len)
        return false;
    *ssid = body + off + 2;
    *ssid_len = body[off + 1];
    return true;
}

// The elements from OFF chain exactly to the end of the body.
bool elements_fit(const uint8_t* body, size_t len, size_t off) {
    while (off + 2 <= len)
        off += 2 + static_cast<size_t>(body[off + 1]);
    return off == len;
}

// Where the elements start: after 4 fixed bytes (association) or 10
// (reassociation). The SSID element leads either way; one matching the
// serving SSID settles it, then one whose elements fill the body exactly, then
// any well-formed one; an association body is assumed otherwise.
size_t elements_offset(const uint8_t* body, size_t len, const uint8_t* ssid, size_t ssid_len) {
    const size_t offs[2] = {kAssocFixed, kReassocFixed};
    bool formed[2] = {false, false};
    for (int i = 0; i < 2; ++i) {
        const uint8_t* s;
        size_t sl;
        formed[i] = ssid_element_at(body, len, offs[i], &s, &sl);
        if (formed[i] && ssid && ssid_len > 0 && sl == ssid_len && std::memcmp(s, ssid, sl) == 0)
            return offs[i];
    }
    for (int i = 0; i < 2; ++i)
        if (formed[i] && elements_fit(body, len, offs[i]))
            return offs[i];
    for (int i = 0; i < 2; ++i)
        if (formed[i])
            return offs[i];
    return kAssocFixed;
}

}  // namespace

int map_80211_parse_assoc_body(map_sta_assoc_caps* caps, const uint8_t* body, size_t body_len,
                               int is_5g_radio, const uint8_t* ssid, size_t ssid_len) {
    if (!caps)
        return -1;
    std::memset(caps, 0, sizeof *caps);
    if (!body || body_len < kAssocFixed)
        return -1;

    Reader r{caps, is_5g_radio != 0, {}};
    caps->capability_info = le16(body);
    caps->listen_interval = le16(body + 2);
    size_t pos = elements_offset(body, body_len, ssid, ssid_len);
    caps->is_reassoc = pos == kReassocFixed;
    caps->supported_bands = is_5g_radio ? MAP_STA_BAND_5G : MAP_STA_BAND_2G;

    int elements = 0;
    while (pos + 2 <= body_len) {
        const uint8_t id = body[pos], len = body[pos + 1];
        if (len > body_len - pos - 2)
            break;  // runs past the body: stop here
        r.element(id, body + pos + 2, len);
        ++elements;
        pos += 2 + static_cast<size_t>(len);
    }
    if (elements == 0) {
        std::memset(caps, 0, sizeof *caps);
        return -1;
    }
    if (caps->max_bandwidth == 0)
        caps->max_bandwidth = 20;
    if (caps->max_rx_spatial_streams == 0)
        caps->max_rx_spatial_streams = 1;
    if (caps->max_tx_spatial_streams == 0)
        caps->max_tx_spatial_streams = 1;
    return 0;
}
