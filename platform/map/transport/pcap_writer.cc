#include "map/transport/pcap_writer.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "map/map_log.h"

namespace {
constexpr uint32_t kPcapMagic = 0xA1B2C3D4;  // microsecond time stamps
constexpr uint32_t kSnapLen = 65535;

// Every field little-endian, whatever the CPU: the same capture gives the same file on
// the gateway (MIPS, little-endian) and on a big-endian machine; readers tell the order
// from the magic number.
void put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Writes all of IOV or fails; a short write counts as a failure.
bool write_all(int fd, struct iovec* iov, int count, size_t total) {
    ssize_t n;
    do {
        n = ::writev(fd, iov, count);
    } while (n < 0 && errno == EINTR);
    return n >= 0 && static_cast<size_t>(n) == total;
}
}  // namespace

PcapWriter::~PcapWriter() {
    close();
}

bool PcapWriter::open(const std::string& path, uint64_t max_bytes, std::string* error) {
    close();
    path_ = path;
    bytes_ = 0;
    frames_ = 0;
    if (max_bytes < kPcapFileHeaderLen) {
        if (error)
            *error = "capture " + path + ": maximum size smaller than the pcap header";
        return false;
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error)
            *error = "capture " + path + ": " + std::strerror(errno);
        return false;
    }
    uint8_t header[kPcapFileHeaderLen];
    put32(header, kPcapMagic);
    put16(header + 4, 2);  // version 2.4
    put16(header + 6, 4);
    put32(header + 8, 0);   // time zone offset
    put32(header + 12, 0);  // time stamp accuracy
    put32(header + 16, kSnapLen);
    put32(header + 20, kPcapLinkTypeEthernet);
    struct iovec iov = {header, sizeof header};
    if (!write_all(fd, &iov, 1, sizeof header)) {
        if (error)
            *error = "capture " + path + ": cannot write the pcap header";
        ::close(fd);
        return false;
    }
    fd_ = fd;
    max_bytes_ = max_bytes;
    bytes_ = sizeof header;
    return true;
}

void PcapWriter::write(const uint8_t* frame, size_t len) {
    if (fd_ < 0 || frame == nullptr)
        return;
    if (bytes_ + kPcapRecordHeaderLen + len > max_bytes_) {
        stop("maximum size reached");
        return;
    }
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    uint8_t rec[kPcapRecordHeaderLen];
    put32(rec, static_cast<uint32_t>(ts.tv_sec));
    put32(rec + 4, static_cast<uint32_t>(ts.tv_nsec / 1000));
    put32(rec + 8, static_cast<uint32_t>(len));   // captured length
    put32(rec + 12, static_cast<uint32_t>(len));  // length on the wire
    struct iovec iov[2] = {{rec, sizeof rec}, {const_cast<uint8_t*>(frame), len}};
    if (!write_all(fd_, iov, 2, sizeof rec + len)) {
        // Cut a partial record off so that the file stays readable.
        if (::ftruncate(fd_, static_cast<off_t>(bytes_)) != 0) {
            // Nothing more to do: capture stops below either way.
        }
        stop("write failed");
        return;
    }
    bytes_ += sizeof rec + len;
    ++frames_;
}

void PcapWriter::stop(const char* why) {
    map_log(MAP_LOG_IEEE1905, 4,
            "capture %s stopped: %s after %llu frames, %llu bytes (limit %llu bytes)",
            path_.c_str(), why, static_cast<unsigned long long>(frames_),
            static_cast<unsigned long long>(bytes_), static_cast<unsigned long long>(max_bytes_));
    close();
}

void PcapWriter::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}
