// Bytes <-> records: TLVs, CMDUs (8-byte header, TLV list closed by End of
// Message, fragmentation at TLV boundaries), reassembly of fragmented CMDUs,
// and the Ethernet framing of 1905 frames (ethertype 0x893A).
//
// Decoding is strict: every length is checked against the buffer and against
// the TLV's own structure (a TLV must be consumed exactly). One malformed TLV
// rejects the whole CMDU with a single map_log line; no partly filled record
// is handed out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "common/mac.h"
#include "map/cmdu.h"
#include "map/codec/tlvs.h"

constexpr uint16_t ETHERTYPE_1905 = 0x893A;
constexpr size_t CMDU_HEADER_LEN = 8;
constexpr size_t TLV_HEADER_LEN = 3;
constexpr size_t ETHERNET_HEADER_LEN = 14;
// Largest CMDU payload (header + TLVs) in one Ethernet frame.
constexpr size_t CMDU_MAX_FRAGMENT_PAYLOAD = 1500;

constexpr uint8_t CMDU_FLAG_LAST_FRAGMENT = 0x80;
constexpr uint8_t CMDU_FLAG_RELAY = 0x40;

// The 8-byte CMDU header.
struct cmdu_header {
    uint8_t message_version = 0;
    uint16_t message_type = 0;
    uint16_t message_id = 0;
    uint8_t fragment_id = 0;
    bool last_fragment = true;
    bool relay_indicator = false;
};

// Reads the header of PAYLOAD. False when shorter than 8 bytes.
bool parse_1905_CMDU_header(const uint8_t* payload, size_t len, cmdu_header& out);

// ---- TLVs -------------------------------------------------------------------

// Appends RECORD as one TLV (type, 16-bit length, value) to OUT. False (OUT
// unchanged) when a value does not fit its wire field or the value would
// exceed 65535 bytes.
bool encode_1905_TLV(const uint8_t* record, std::vector<uint8_t>& out);

// Decodes the VALUE (LEN bytes) of a TLV of type TLV_TYPE into a new record
// (release with free_1905_TLV_structure). Types without a record give an
// unknown_tlv. Null when the value is malformed; nothing is leaked.
uint8_t* decode_1905_TLV(uint8_t tlv_type, const uint8_t* value, size_t len);

// Printable one-line rendering of every field of a record (for logs and tests).
std::string dump_1905_TLV(const uint8_t* record);

// ---- CMDUs ------------------------------------------------------------------

// Encodes CMDU into one or more payloads (header + TLVs), each at most
// MAX_PAYLOAD bytes; the last one carries the End of Message TLV and the last-
// fragment flag. Fragments split at TLV boundaries. False (FRAGMENTS empty)
// when a record does not encode, a single TLV cannot fit one fragment, or more
// than 256 fragments would be needed.
bool encode_1905_CMDU(const CMDU& cmdu, std::vector<std::vector<uint8_t>>& fragments,
                      size_t max_payload = CMDU_MAX_FRAGMENT_PAYLOAD);

// Decodes one complete, unfragmented CMDU payload (header, TLVs, End of
// Message; bytes after End of Message, such as Ethernet padding, are
// ignored). SRC (may be null) is stored as src_al_mac and named in the log
// line on rejection. Null when malformed.
CmduPtr decode_1905_CMDU(const uint8_t* payload, size_t len, const MAC* src = nullptr);

// ---- Reassembly --------------------------------------------------------------

// Collects the fragments of CMDUs, keyed by source address, message id and
// fragment id, and hands out each CMDU once complete. Incomplete messages are
// dropped after a time-out (clock: get_current_time_ms()) and the memory they
// hold is bounded; the oldest incomplete message makes room for a new one.
class CmduReassembler {
  public:
    struct Limits {
        long long timeout_ms = 3000;
        size_t max_messages = 16;      // incomplete messages held at once
        size_t max_bytes = 64 * 1024;  // payload bytes held for incomplete messages
        size_t max_fragments = 64;     // fragments of one message
    };

    CmduReassembler() = default;
    explicit CmduReassembler(const Limits& limits) : limits_(limits) {}

    // Feeds one CMDU payload from SRC. Returns the decoded CMDU when this
    // payload is a whole CMDU or completes one; null otherwise (pending,
    // duplicate, or malformed: logged).
    CmduPtr feed(const MAC& src, const uint8_t* payload, size_t len);

    // Drops the incomplete messages older than the time-out.
    void expire();

    size_t pending_messages() const { return pending_.size(); }
    size_t pending_bytes() const { return bytes_; }

  private:
    struct Pending {
        uint16_t message_type = 0;
        uint8_t message_version = 0;
        bool relay = false;
        long long first_ms = 0;
        int last_id = -1;  // fragment id of the last fragment, once seen
        size_t bytes = 0;
        std::map<uint8_t, std::vector<uint8_t>> fragments;  // fragment id -> TLV bytes
    };
    using Key = std::tuple<MAC, uint16_t>;

    void drop(std::map<Key, Pending>::iterator it);
    // Drops the oldest incomplete messages (never KEEP) until INCOMING more
    // bytes fit, and, when KEEP is null, until a new message fits the count.
    void make_room(size_t incoming, const Key* keep);

    Limits limits_;
    std::map<Key, Pending> pending_;
    size_t bytes_ = 0;
};

// ---- Ethernet ------------------------------------------------------------------

// Frame = destination, source, ethertype 0x893A, PAYLOAD.
void build_1905_ethernet_frame(const MAC& dst, const MAC& src, const std::vector<uint8_t>& payload,
                               std::vector<uint8_t>& frame);

// Splits an Ethernet frame into source address and CMDU payload. False when
// too short or not of ethertype 0x893A.
bool parse_1905_ethernet_frame(const uint8_t* frame, size_t len, MAC& src, const uint8_t*& payload,
                               size_t& payload_len);

// The 1905.1 multicast address 01:80:c2:00:00:13.
extern const MAC IEEE1905_MULTICAST_ADDRESS;
