// A small blocking HTTP/1.1 client for the REST tests: raw requests over a
// loopback TCP connection, answers read by Content-Length.
#pragma once

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sys/types.h>

#include <map>
#include <string>

struct HttpAnswer {
    int status = 0;
    std::string head;  // status line and header lines, up to the empty line
    std::map<std::string, std::string> headers;  // lower-case names
    std::string body;
};

class TestClient {
  public:
    TestClient() = default;
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool connect(int port);
    bool send(const std::string& bytes);
    // One byte per send() (Nagle off), so the server reads it in many pieces.
    bool send_bytewise(const std::string& bytes);
    // Reads one response (head and Content-Length body); false on EOF, error
    // or after TIMEOUT_MS without progress.
    // HEAD_ONLY: the answer to a HEAD request, whose body is not sent.
    bool read_answer(HttpAnswer& out, int timeout_ms = 5000, bool head_only = false);
    // True when the server closes the connection (EOF or reset) within
    // TIMEOUT_MS; bytes arriving meanwhile are discarded.
    bool wait_closed(int timeout_ms = 5000);
    void close();
    // Ends the sending side (the server sees EOF) while still reading.
    void shutdown_send();
    int fd() const { return fd_; }

  private:
    bool fill(int timeout_ms);
    int fd_ = -1;
    std::string buf_;
};

// GET/POST helpers on a fresh connection.
HttpAnswer http_request(int port, const std::string& raw);
std::string get_request(const std::string& uri, const std::string& extra_headers = "");
std::string body_request(const std::string& method, const std::string& uri, const std::string& body,
                         const std::string& extra_headers = "");

// Waits until a server accepts on PORT, for about SECONDS at most; false as soon as the process
// PID (the server, started by the test) has ended.
bool wait_listening(pid_t pid, int port, int seconds = 30);

// Whether ACTUAL holds the JSON text EXPECTED: every member of an expected object with an equal
// value (member objects the same way), arrays of the same size element by element. A failure
// names the first path that differs and both values.
::testing::AssertionResult json_has(const rapidjson::Value& actual, const std::string& expected);
