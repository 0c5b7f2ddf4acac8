#include "rest/rest_strings.h"

#include <cstdio>

const char* media_type_to_string(unsigned media_type) {
    switch (media_type) {
        case 0:
            return "fast ethernet";
        case 1:
            return "gigabit ethernet";
        case 256:
            return "802.11b 2.4g";
        case 257:
            return "802.11g 2.4g";
        case 258:
            return "802.11a 5g";
        case 259:
            return "802.11n 2.4g";
        case 260:
            return "802.11n 5g";
        case 261:
            return "802.11ac 5g";
        case 262:
            return "802.11ad 60g";
        case 263:
            return "802.11af";
        case 512:
            return "1901 wavelet";
        case 513:
            return "1901 fft";
        case 768:
            return "moca";
        case 65535:
            return "unknown media";
        default:
            return "";
    }
}

const char* link_medium_to_string(unsigned link_medium) {
    switch (link_medium) {
        case 1:
            return "ethernet";
        case 16:
            return "wifi-24";
        case 32:
            return "wifi-5high";
        case 64:
            return "wifi-5low";
        case 128:
            return "wifi-5";
        default:
            return "";
    }
}

const char* band_type_to_buf(unsigned bits, char* out, size_t cap) {
    static const struct {
        unsigned bit;
        const char* name;
    } kBands[] = {{16, "MAP_M2_BSS_RADIO2G"},
                  {32, "MAP_M2_BSS_RADIO5GU"},
                  {64, "MAP_M2_BSS_RADIO5GL"},
                  {128, "MAP_M2_BSS_RADIO5GF"}};
    size_t n = 0;
    if (cap == 0)
        return out;
    for (const auto& b : kBands) {
        if (!(bits & b.bit))
            continue;
        if (n > 0 && n + 1 < cap)
            out[n++] = ' ';
        for (const char* p = b.name; *p && n + 1 < cap; ++p)
            out[n++] = *p;
    }
    out[n] = '\0';
    return out;
}

std::string band_type_to_str(unsigned bits) {
    char buf[80];
    return band_type_to_buf(bits, buf, sizeof buf);
}

std::string intf_type_to_str(unsigned code) {
    char buf[32];
    return intf_type_to_buf(code, buf, sizeof buf);
}

const char* intf_type_to_buf(unsigned code, char* out, size_t cap) {
    code &= 0xffff;
    switch (code) {
        case 0x0000:
            return "MEDIA_IEEE_802_3U_FAST_ETHERNET (0x0000)";
        case 0x0001:
            return "MEDIA_IEEE_802_3AB_GIGABIT_ETHERNET (0x0001)";
        case 0x0100:
            return "MEDIA_IEEE_802_11B_2_4_GHZ (0x0100)";
        case 0x0101:
            return "MEDIA_IEEE_802_11G_2_4_GHZ (0x0101)";
        case 0x0102:
            return "MEDIA_IEEE_802_11A_5_GHZ (0x0102)";
        case 0x0103:
            return "MEDIA_IEEE_802_11N_2_4_GHZ (0x0103)";
        case 0x0104:
            return "MEDIA_IEEE_802_11N_5_GHZ (0x0104)";
        case 0x0105:
            return "MEDIA_IEEE_802_11AC_5_GHZ (0x0105)";
        case 0x0106:
            return "MEDIA_IEEE_802_11AD_60_GHZ (0x0106)";
        case 0x0107:
            return "MEDIA_IEEE_802_11AF_GHZ (0x0107)";
        case 0x0108:
            return "MEDIA_WIFI_6 (0x0108)";
        case 0x0200:
            return "MEDIA_IEEE_1901_WAVELET (0x0200)";
        case 0x0201:
            return "MEDIA_IEEE_1901_FFT (0x0201)";
        case 0x0300:
            return "MEDIA_MOCA_V1_1 (0x0300)";
        default:
            if (cap > 0)
                std::snprintf(out, cap, "Unknown (0x%x)", code);
            return cap > 0 ? out : "";
    }
}

const char* access_category_to_string(unsigned ac) {
    switch (ac) {
        case 0:
            return "AC_BE";
        case 1:
            return "AC_BK";
        case 2:
            return "AC_VI";
        case 3:
            return "AC_VO";
        default:
            return "";
    }
}
