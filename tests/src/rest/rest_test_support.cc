#include "rest_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {
std::atomic<int> g_capture_seq{0};

std::string lower(std::string s) {
    for (char& ch : s)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    return s;
}
}  // namespace

LogCapture::LogCapture() {
    const char* tmp = std::getenv("TMPDIR");
    path_ = std::string(tmp ? tmp : "/tmp") + "/ozr_rest_test_" + std::to_string(getpid()) + "_" +
            std::to_string(g_capture_seq++) + ".log";
    std::remove(path_.c_str());
    init_file_logger(path_);
}

LogCapture::~LogCapture() {
    teardown_logging();
    std::remove(path_.c_str());
}

std::string LogCapture::text() const {
    std::ifstream in(path_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
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

ServerHarness::ServerHarness(const RestLimits& limits) : logger_(nullptr, "rest", "[REST]", 7) {
    uv_loop_init(&loop_);
    uv_async_init(&loop_, &stop_, on_stop);
    stop_.data = this;
    service_ = std::make_unique<RestService>(&loop_, &logger_, limits);
    done_future_ = done_.get_future();
}

void ServerHarness::on_stop(uv_async_t* a) {
    uv_stop(a->loop);
}

bool ServerHarness::start() {
    RestListenAddress address;
    address.port = 0;  // any free port
    if (service_->start(ctx_, address) != 0)
        return false;
    port_ = service_->server()->port();
    started_ = true;
    thread_ = std::thread([this] {
        uv_run(&loop_, UV_RUN_DEFAULT);
        done_.set_value();
    });
    return true;
}

bool ServerHarness::loop_stopped_within(int timeout_ms) {
    return done_future_.wait_for(std::chrono::milliseconds(timeout_ms)) ==
           std::future_status::ready;
}

void ServerHarness::stop_thread() {
    if (started_ && !stopped_) {
        uv_async_send(&stop_);
        thread_.join();
    }
    stopped_ = true;
}

bool ServerHarness::shutdown_by_handle_walk() {
    stop_thread();
    uv_walk(
        &loop_,
        [](uv_handle_t* h, void*) {
            if (!uv_is_closing(h))
                uv_close(h, nullptr);
        },
        nullptr);
    while (uv_run(&loop_, UV_RUN_ONCE) != 0) {
    }
    service_.reset();
    return uv_loop_close(&loop_) == 0;
}

ServerHarness::~ServerHarness() {
    if (!service_)
        return;  // shut down by the handle walk
    stop_thread();
    // The loop has stopped: close everything from this thread and let the
    // close callbacks run.
    service_->close();
    uv_close(reinterpret_cast<uv_handle_t*>(&stop_), nullptr);
    while (uv_run(&loop_, UV_RUN_DEFAULT) != 0) {
    }
    service_.reset();
    uv_loop_close(&loop_);
}
