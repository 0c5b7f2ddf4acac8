#include "http_test_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace {
std::string lower(std::string s) {
    for (char& ch : s)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    return s;
}

std::string json_text(const rapidjson::Value& v) {
    rapidjson::StringBuffer out;
    rapidjson::Writer<rapidjson::StringBuffer> w(out);
    v.Accept(w);
    return out.GetString();
}

// The path of the first difference of ACTUAL from EXPECTED, empty when there is none.
std::string json_difference(const rapidjson::Value& actual, const rapidjson::Value& expected,
                            const std::string& path) {
    if (expected.IsObject() && actual.IsObject()) {
        for (const auto& m : expected.GetObject()) {
            const std::string at = path + "." + m.name.GetString();
            if (!actual.HasMember(m.name))
                return at + " missing";
            std::string d = json_difference(actual[m.name], m.value, at);
            if (!d.empty())
                return d;
        }
        return "";
    }
    if (expected.IsArray() && actual.IsArray() && expected.Size() == actual.Size()) {
        for (rapidjson::SizeType i = 0; i < expected.Size(); ++i) {
            std::string d =
                json_difference(actual[i], expected[i], path + "[" + std::to_string(i) + "]");
            if (!d.empty())
                return d;
        }
        return "";
    }
    if (actual == expected)
        return "";
    return path + ": " + json_text(actual) + ", expected " + json_text(expected);
}
}  // namespace

::testing::AssertionResult json_has(const rapidjson::Value& actual, const std::string& expected) {
    rapidjson::Document e;
    if (e.Parse(expected.c_str()).HasParseError())
        return ::testing::AssertionFailure() << "expected text is no JSON: " << expected;
    const std::string d = json_difference(actual, e, "$");
    if (d.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << d;
}

TestClient::~TestClient() {
    close();
}

void TestClient::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    buf_.clear();
}

void TestClient::shutdown_send() {
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_WR);
}

bool TestClient::connect(int port) {
    close();
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0)
        return false;
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    struct sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd_, reinterpret_cast<struct sockaddr*>(&sa), sizeof sa) == 0;
}

bool TestClient::send(const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

bool TestClient::send_bytewise(const std::string& bytes) {
    for (char ch : bytes)
        if (!send(std::string(1, ch)))
            return false;
    return true;
}

bool TestClient::fill(int timeout_ms) {
    struct pollfd p = {fd_, POLLIN, 0};
    int r = ::poll(&p, 1, timeout_ms);
    if (r <= 0)
        return false;
    char tmp[16384];
    ssize_t n = ::recv(fd_, tmp, sizeof tmp, 0);
    if (n <= 0)
        return false;
    buf_.append(tmp, static_cast<size_t>(n));
    return true;
}

bool TestClient::read_answer(HttpAnswer& out, int timeout_ms, bool head_only) {
    out = HttpAnswer();
    size_t end;
    while ((end = buf_.find("\r\n\r\n")) == std::string::npos)
        if (!fill(timeout_ms))
            return false;
    out.head = buf_.substr(0, end + 2);
    buf_.erase(0, end + 4);
    if (std::sscanf(out.head.c_str(), "HTTP/1.1 %d", &out.status) != 1)
        return false;
    size_t pos = out.head.find("\r\n") + 2;
    while (pos < out.head.size()) {
        size_t eol = out.head.find("\r\n", pos);
        std::string line = out.head.substr(pos, eol - pos);
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            size_t v = colon + 1;
            while (v < line.size() && line[v] == ' ')
                ++v;
            out.headers[lower(line.substr(0, colon))] = line.substr(v);
        }
        pos = eol + 2;
    }
    size_t length = 0;
    auto it = out.headers.find("content-length");
    if (it != out.headers.end() && !head_only)
        length = std::strtoul(it->second.c_str(), nullptr, 10);
    while (buf_.size() < length)
        if (!fill(timeout_ms))
            return false;
    out.body = buf_.substr(0, length);
    buf_.erase(0, length);
    return true;
}

bool TestClient::wait_closed(int timeout_ms) {
    for (;;) {
        struct pollfd p = {fd_, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0)
            return false;
        char tmp[4096];
        ssize_t n = ::recv(fd_, tmp, sizeof tmp, 0);
        if (n == 0)
            return true;
        if (n < 0)
            return errno == ECONNRESET;
    }
}

HttpAnswer http_request(int port, const std::string& raw) {
    TestClient c;
    HttpAnswer a;
    if (c.connect(port) && c.send(raw))
        c.read_answer(a);
    return a;
}

std::string get_request(const std::string& uri, const std::string& extra_headers) {
    return "GET " + uri + " HTTP/1.1\r\nHost: localhost\r\n" + extra_headers + "\r\n";
}

std::string body_request(const std::string& method, const std::string& uri, const std::string& body,
                         const std::string& extra_headers) {
    return method + " " + uri +
           " HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/json\r\n" + extra_headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

bool wait_listening(pid_t pid, int port, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        TestClient c;
        if (c.connect(port))
            return true;
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return false;
        poll(nullptr, 0, 50);  // the server is starting in another process
    }
    return false;
}
