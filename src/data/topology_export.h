// The packed mesh topology block the platform reads over the bus (getmeshtopology), its
// readable dump and its text variant (getmeshtopologyinfo).
//
// The block is one malloc'ed, little-endian, packed byte array. Record sizes and the
// counts that walk it are in messages/bus_records.h; the remaining fields, fixed here and shared
// with the bus peer, are (offset width content; text is NUL-terminated, truncated to one
// byte less than its width; every entry is zero-filled first):
//
// header (72):      0 18 controller AL MAC        64 1 number of APs     68 4 block size
// AP (696):         0 33 system MAC               33 32 model (vendor agent, online only)
//                  65 8 product class (idem)      73 64 vendor (idem)
//                 137 33 serial number           170 65 software version (idem)
//                 255 16 IPv4 address            394 64 AL MAC of the Multi-AP agent
//                 458 65 host name               523 1 online
//                 528 4 cost to the gateway      532 4 backhaul quality (0 bad .. 2 good)
//                 536 4 seconds since update     540 4 uptime s (vendor agent heartbeat)
//                 544 4 onboarding state (1..4)  548 4 uplink RSSI (dBm, 255 unknown)
//                 552 16 onboarding state text   568 33 backhaul MAC (parent interface)
//                 632 4 cost to the parent       636 1 backhaul connected
//                 637 1 gateway                  640 16 backhaul IPv4
//                 656 8 backhaul medium word     664 8 "wired" or "wireless"
//                 689 1 number of radios         690 2 number of Ethernet clients
// radio (104):      0 18 radio id                 18 8 band ("2.4G", "5G", "6G")
//                  26 1 channel                   27 1 operating class
//                  28 1 transmit power dBm        29 1 maximum BSSs
//                  97 1 number of SSIDs
// SSID (136):       0 33 SSID                     33 18 BSSID
//                  52 2 authentication mode       54 2 encryption mode (vendor agent VAP)
//                  56 1 BSS type (bit 0 fronthaul, bit 1 backhaul; 0 unknown)
//                 128 2 number of stations
// station (376):    0 18 MAC                      18 18 BSSID
//                  36 1 RCPI                      37 1 uplink RCPI
//                  38 1 backhaul STA              40 4 transmit rate Mb/s
//                  44 4 seconds associated        48 4 downlink kb/s   52 4 uplink kb/s
//                  56 64 name
// Ethernet (44):    0 18 MAC                      18 2 port number (0 unknown)
//                  20 18 the extender's interface MAC
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "data/ap_info.h"
#include "messages/bus_records.h"

class Device;
class Graph;
class Logger;
struct HktNode;

// Field offsets of the records beyond their counts (see above).
namespace topo {
constexpr size_t kHdrController = 0, kHdrSize = 68;
constexpr size_t kApSystemMac = 0, kApModel = 33, kApProductClass = 65, kApVendor = 73;
constexpr size_t kApSn = 137, kApSwVersion = 170, kApIpv4 = 255, kApAlMac = 394;
constexpr size_t kApHostname = 458, kApOnline = 523, kApCostToGw = 528, kApQuality = 532;
constexpr size_t kApSecondsSinceUpdate = 536, kApUptime = 540, kApState = 544;
constexpr size_t kApUplinkRssi = 548, kApStateText = 552, kApBackhaulMac = 568;
constexpr size_t kApCostToParent = 632, kApBackhaulConnected = 636, kApGateway = 637;
constexpr size_t kApBackhaulIpv4 = 640, kApBackhaulMedium = 656, kApBackhaulKind = 664;
constexpr size_t kRadioId = 0, kRadioBand = 18, kRadioChannel = 26, kRadioOpClass = 27;
constexpr size_t kRadioTxPower = 28, kRadioMaxBss = 29;
constexpr size_t kSsidName = 0, kSsidBssid = 33, kSsidAuth = 52, kSsidEnc = 54, kSsidType = 56;
constexpr size_t kStaMac = 0, kStaBssid = 18, kStaRcpi = 36, kStaUplinkRcpi = 37;
constexpr size_t kStaBackhaul = 38, kStaTxRate = 40, kStaSeconds = 44, kStaDownlink = 48;
constexpr size_t kStaUplink = 52, kStaName = 56;
constexpr size_t kEthMac = 0, kEthPort = 18, kEthInterface = 20;
// The counts the record widths allow.
constexpr size_t kMaxAps = 255, kMaxRadios = 255, kMaxSsids = 255, kMaxStas = 65535;
constexpr size_t kMaxEth = 65535;
// The block never grows past this (a home mesh needs a few tens of kilobytes).
constexpr size_t kMaxBlockBytes = 4u << 20;
}  // namespace topo

// Little-endian field access inside a block.
uint16_t topo_u16(const unsigned char* p, size_t at);
uint32_t topo_u32(const unsigned char* p, size_t at);
// The NUL-terminated text of a WIDTH-byte field (never reads past it).
std::string topo_text(const unsigned char* p, size_t at, size_t width);

// A malloc'ed block that grows by appending zero-filled records. Its capacity doubles, so
// building a block of N bytes copies O(N) bytes in all. Appends past LIMIT fail.
class TopoBlock {
  public:
    explicit TopoBlock(size_t limit = topo::kMaxBlockBytes) : limit_(limit) {}
    ~TopoBlock();
    TopoBlock(const TopoBlock&) = delete;
    TopoBlock& operator=(const TopoBlock&) = delete;

    // Appends N zero bytes; AT receives their offset. False on allocation failure or when
    // the block would pass its limit (nothing appended).
    bool append(size_t n, size_t& at);
    unsigned char* data() { return data_; }
    const unsigned char* data() const { return data_; }
    size_t size() const { return size_; }
    // Hands the block over (trimmed to its size, to be released with free) and empties
    // this one.
    unsigned char* release();

    void put_u8(size_t at, uint8_t v) { data_[at] = v; }
    void put_u16(size_t at, uint16_t v);
    void put_u32(size_t at, uint32_t v);
    // TEXT truncated to WIDTH - 1 bytes, NUL-filled.
    void put_text(size_t at, size_t width, const std::string& text);

  private:
    unsigned char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    size_t limit_;
};

// One extender as the export sees it: its RAM DB entry, its device in the graph (null
// when not seen) and its vendor agent node (null when unknown).
struct TopoApView {
    ApInfo info;
    const Device* device = nullptr;
    const HktNode* hkt = nullptr;
};

// Where the export reads the mesh and writes its log lines.
struct TopoSource {
    const Graph* graph = nullptr;
    const Logger* log = nullptr;
    int64_t now_ms = 0;
};

// The levels of the block: each appends its records at the end of BLK and fills them. 0 on
// success, -1 when the block cannot grow.
int fill_ap_info_in_topology(TopoBlock& blk, size_t ap_at, const TopoApView& ap,
                             const TopoSource& src);
int fill_ap_radio_info_in_topology(TopoBlock& blk, size_t ap_at, const TopoApView& ap,
                                   const TopoSource& src);
int fill_ap_ssid_info_in_topology(TopoBlock& blk, size_t radio_at, const TopoApView& ap,
                                  size_t radio_index, const TopoSource& src);
int fill_ssid_sta_info_in_topology(TopoBlock& blk, size_t ssid_at, const TopoApView& ap,
                                   const BSSID& bssid, const TopoSource& src);
int fill_ap_eth_client_info_in_topology(TopoBlock& blk, size_t ap_at, const TopoApView& ap,
                                        const TopoSource& src);

// Builds the whole block for APS (at most 255 entries; the others are left out with an
// error line). 0 with *OUT set (malloc'ed, the caller frees it) and *SIZE its size; -1 with
// *OUT null on failure. LIMIT bounds the block.
int build_mesh_topology(const std::vector<TopoApView>& aps, const TopoSource& src,
                        unsigned char** out, size_t* size, size_t limit = topo::kMaxBlockBytes);

// The readable dump of BLOCK (walked with its counts, never past SIZE): count lines and
// hexadecimal bytes. 0, or -1 when the counts do not fit in SIZE.
int mesh_toplogy_renderer(const unsigned char* block, size_t size, std::string& out);

// The text variant: one JSON object {"controller", "aps": [...]} per call.
std::string mesh_topology_info_text(const std::vector<TopoApView>& aps, const TopoSource& src);
