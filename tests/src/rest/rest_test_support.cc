#include "rest_test_support.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {
std::atomic<int> g_capture_seq{0};
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
