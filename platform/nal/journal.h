// The platform journal: what the platform stand-ins were asked to do, one JSON line per
// call, for people and tests to read.
//
// The journal is the file named by platform.json key "platform-journal-path" (used as
// written, like "platform-log-path"; no root prefix). Without that key nothing is
// written. Each line is one JSON object:
//
//   {"ms":<get_current_time_ms()>,"call":"<function>",<name>:<value>,...}
//
// with the arguments in the order they were added: strings as JSON strings, integers as
// JSON numbers, byte buffers as a JSON string of lower-case hex digits ("" when empty).
//
// A stand-in that acts on the world outside the daemon journals each call:
//
//   nal_journal("qbusSendSignal").str("interface", iface).str("member", member)
//       .hex("hex", data, len);
//
// The line is written when the temporary is destroyed, in one append. Any thread may
// journal (the D-Bus service thread does); lines never interleave.
#pragma once

#include <cstddef>
#include <string>

class JournalLine {
  public:
    explicit JournalLine(const char* call);
    ~JournalLine();
    JournalLine(const JournalLine&) = delete;
    JournalLine& operator=(const JournalLine&) = delete;

    // A string argument (escaped; bytes that are not UTF-8 become U+FFFD). Null is "".
    JournalLine& str(const char* name, const char* value);
    JournalLine& str(const char* name, const std::string& value);
    // An integer argument.
    JournalLine& num(const char* name, long long value);
    // A byte buffer as hex, e.g. {0x01, 0xab} -> "01ab". Null DATA gives "".
    JournalLine& hex(const char* name, const void* data, size_t len);

  private:
    void key(const char* name);
    std::string line_;
    bool enabled_ = false;
    bool truncated_ = false;
};

// Starts a journal line for CALL (the platform function's name).
inline JournalLine nal_journal(const char* call) {
    return JournalLine(call);
}

// True when platform.json names a journal (checked cheaply: the key is re-read only when
// the platform file changed). Callers may use it to skip costly argument preparation.
bool nal_journal_enabled();

// The journal's path ("" when none is configured).
std::string nal_journal_path();

// Lines longer than this are cut (the "hex" of a large payload, for instance): the line
// keeps valid JSON and gets "truncated":true as its last member.
constexpr size_t kJournalLineMax = 16 * 1024;
