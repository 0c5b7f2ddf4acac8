// The client database: what the controller remembers about each client across restarts,
// in /configs/easymesh/ozr_node_info_db.json.
//
//   {"version": "1.0.0", "last updated": "...",
//    "client-info-list": [{"mac": "02:00:00:00:00:09", "2g": 1, "5g": 1, "c1_obey": 0,
//                          "ch_2g": 2047, "ch_5g": 15}]}
//
// "2g" / "5g": 1 once the client was seen on that band (associated or measured);
// "c1_obey": steering requests the client obeyed (saturating at 255); "ch_2g" / "ch_5g":
// the supported-channel bitmaps of its last capability report. At most 128 clients.
//
// Every change replaces the whole file atomically (temporary file, fsync, rename). A
// record written with the values it already holds is not written again, so the flash is
// not worn by repeated reports. An unreadable, oversized or unparsable file is kept as
// ozr_node_info_db_backup.json and a fresh document takes its place; invalid entries of a
// parsable file are dropped (each logged).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "log/logger.h"

struct ClientRecord {
    uint8_t band_2g = 0;
    uint8_t band_5g = 0;
    uint8_t c1_obey = 0;
    uint32_t ch_2g = 0;
    uint64_t ch_5g = 0;
    bool operator==(const ClientRecord& o) const {
        return band_2g == o.band_2g && band_5g == o.band_5g && c1_obey == o.c1_obey &&
               ch_2g == o.ch_2g && ch_5g == o.ch_5g;
    }
    bool operator!=(const ClientRecord& o) const { return !(*this == o); }
};

class ClientInfoDb {
  public:
    ClientInfoDb();

    // Creates the folder, reads and checks the file (writing a fresh one when needed).
    bool db_init();
    // False when MAC is present already ("already exists"), the database is full
    // ("client db already full") or the file cannot be written.
    bool db_add_record(const std::string& mac, const ClientRecord& rec);
    // False when MAC is unknown (logged at debug level) or the file cannot be written; an
    // unchanged record is not written (true).
    bool db_update_record(const std::string& mac, const ClientRecord& rec);
    // {0, record} when MAC has one, {2, null} otherwise. Query logs a missing MAC at debug
    // level (a client not seen yet is no fault), get at error level. The pointer stays
    // valid until the record is erased.
    std::pair<int, const ClientRecord*> db_query_record(const std::string& mac) const;
    std::pair<int, const ClientRecord*> db_get_record(const std::string& mac) const;
    // False when MAC is unknown (logged at debug level) or the file cannot be written.
    bool db_delete_record(const std::string& mac);

    const std::map<std::string, ClientRecord>& records() const { return records_; }
    // File writes since start (the flash-wear figure).
    uint64_t writes() const { return writes_; }
    const std::string& path() const { return path_; }

    static constexpr size_t kMaxRecords = 128;
    static constexpr size_t kMaxFile = 256 * 1024;

  private:
    std::pair<int, const ClientRecord*> find(const std::string& mac, const char* op,
                                             int level) const;
    bool db_check_integrity(const std::string& text);
    bool db_write_file();
    std::string db_build_text() const;

    Logger logger_;
    std::string path_;
    std::string backup_path_;
    std::map<std::string, ClientRecord> records_;
    uint64_t writes_ = 0;
};
