// Appends Ethernet frames to a classic pcap file (link type 1) that Wireshark
// and tshark read. The file is created (or truncated) when opened, its 24-byte
// header written once; every frame then adds a 16-byte record header and the
// frame bytes. When the next record would take the file beyond its maximum
// size, or a write fails, capture stops for good with one log line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kPcapFileHeaderLen = 24;
constexpr size_t kPcapRecordHeaderLen = 16;
constexpr uint32_t kPcapLinkTypeEthernet = 1;

class PcapWriter {
  public:
    PcapWriter() = default;
    ~PcapWriter();
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    // Creates PATH (as written, no prefix) and writes the file header. MAX_BYTES
    // bounds the whole file, header included, and must leave room for it.
    // False, with ERROR set, when the file cannot be created or written.
    bool open(const std::string& path, uint64_t max_bytes, std::string* error = nullptr);

    // Appends one frame stamped with the wall-clock time. Does nothing once
    // capture has stopped.
    void write(const uint8_t* frame, size_t len);

    void close();
    bool active() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    uint64_t bytes() const { return bytes_; }
    uint64_t frames() const { return frames_; }

  private:
    void stop(const char* why);

    int fd_ = -1;
    std::string path_;
    uint64_t max_bytes_ = 0;
    uint64_t bytes_ = 0;
    uint64_t frames_ = 0;
};
