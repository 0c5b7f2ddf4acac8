#include "nal/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "common/clock.h"
#include "nal/nal.h"

namespace {
std::mutex g_mu;

// What the journal path was read from: the platform file's path and identity.
struct Source {
    std::string json_path;
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    bool valid = false;
};
Source g_source;
std::string g_journal_path;

bool same_source(const Source& a, const Source& b) {
    return a.json_path == b.json_path && a.exists == b.exists && a.dev == b.dev && a.ino == b.ino &&
           a.size == b.size && a.mtime.tv_sec == b.mtime.tv_sec &&
           a.mtime.tv_nsec == b.mtime.tv_nsec;
}

// The configured journal path; re-reads platform.json only when the file changed.
std::string current_path() {
    Source now;
    now.json_path = nal_platform_json_path();
    struct stat st;
    if (stat(now.json_path.c_str(), &st) == 0) {
        now.exists = true;
        now.dev = st.st_dev;
        now.ino = st.st_ino;
        now.size = st.st_size;
        now.mtime = st.st_mtim;
    }
    now.valid = true;
    std::lock_guard<std::mutex> lock(g_mu);
    if (!g_source.valid || !same_source(g_source, now)) {
        std::string path;
        if (!now.exists || !nal_platform_get_string("platform-journal-path", path))
            path.clear();
        g_journal_path = path;
        g_source = now;
    }
    return g_journal_path;
}

void append_escaped(std::string& out, const char* s, size_t n) {
    static const char kHex[] = "0123456789abcdef";
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    size_t i = 0;
    while (i < n) {
        unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else {
            // A well-formed UTF-8 sequence is copied; anything else becomes U+FFFD.
            size_t len = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 ? 2 : 0;
            bool ok = len != 0 && c <= 0xf4 && i + len <= n;
            for (size_t k = 1; ok && k < len; ++k)
                ok = (p[i + k] & 0xc0) == 0x80;
            if (ok && len == 3) {
                unsigned cp = ((c & 0x0f) << 12) | ((p[i + 1] & 0x3f) << 6);
                ok = cp >= 0x800 && !(cp >= 0xd800 && cp <= 0xdfff);
            }
            if (ok && len == 4) {
                unsigned cp = ((c & 0x07) << 18) | ((p[i + 1] & 0x3f) << 12);
                ok = cp >= 0x10000 && cp <= 0x10ffff;
            }
            if (ok) {
                out.append(s + i, len);
                i += len;
            } else {
                out += "\\ufffd";
                ++i;
            }
        }
    }
}

// Room left for an argument, keeping space for the closing "truncated" member.
constexpr size_t kTail = sizeof(",\"truncated\":true}") + 1;
}  // namespace

JournalLine::JournalLine(const char* call) {
    enabled_ = !current_path().empty();
    if (!enabled_)
        return;
    line_.reserve(128);
    line_ = "{\"ms\":";
    line_ += std::to_string(get_current_time_ms());
    line_ += ",\"call\":\"";
    append_escaped(line_, call ? call : "", call ? std::char_traits<char>::length(call) : 0);
    line_ += '"';
}

void JournalLine::key(const char* name) {
    line_ += ",\"";
    append_escaped(line_, name ? name : "", name ? std::char_traits<char>::length(name) : 0);
    line_ += "\":";
}

JournalLine& JournalLine::str(const char* name, const char* value) {
    if (!enabled_ || truncated_)
        return *this;
    size_t mark = line_.size();
    key(name);
    line_ += '"';
    if (value)
        append_escaped(line_, value, std::char_traits<char>::length(value));
    line_ += '"';
    if (line_.size() + kTail > kJournalLineMax) {
        line_.resize(mark);
        truncated_ = true;
    }
    return *this;
}

JournalLine& JournalLine::str(const char* name, const std::string& value) {
    if (!enabled_ || truncated_)
        return *this;
    size_t mark = line_.size();
    key(name);
    line_ += '"';
    append_escaped(line_, value.data(), value.size());
    line_ += '"';
    if (line_.size() + kTail > kJournalLineMax) {
        line_.resize(mark);
        truncated_ = true;
    }
    return *this;
}

JournalLine& JournalLine::num(const char* name, long long value) {
    if (!enabled_ || truncated_)
        return *this;
    size_t mark = line_.size();
    key(name);
    line_ += std::to_string(value);
    if (line_.size() + kTail > kJournalLineMax) {
        line_.resize(mark);
        truncated_ = true;
    }
    return *this;
}

JournalLine& JournalLine::hex(const char* name, const void* data, size_t len) {
    static const char kHex[] = "0123456789abcdef";
    if (!enabled_ || truncated_)
        return *this;
    key(name);
    line_ += '"';
    if (data == nullptr)
        len = 0;
    // Whole bytes only, as many as fit.
    size_t room = kJournalLineMax > line_.size() + kTail + 1
                      ? (kJournalLineMax - line_.size() - kTail - 1) / 2
                      : 0;
    size_t n = len < room ? len : room;
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) {
        line_ += kHex[p[i] >> 4];
        line_ += kHex[p[i] & 15];
    }
    line_ += '"';
    if (n < len)
        truncated_ = true;
    return *this;
}

JournalLine::~JournalLine() {
    if (!enabled_)
        return;
    if (truncated_)
        line_ += ",\"truncated\":true";
    line_ += "}\n";
    std::string path = current_path();
    if (path.empty())
        return;
    std::lock_guard<std::mutex> lock(g_mu);
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    size_t off = 0;
    while (off < line_.size()) {
        ssize_t w = write(fd, line_.data() + off, line_.size() - off);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            break;
        off += static_cast<size_t>(w);
    }
    close(fd);
}

bool nal_journal_enabled() {
    return !current_path().empty();
}

std::string nal_journal_path() {
    return current_path();
}
