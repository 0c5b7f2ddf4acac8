// The daemon and the started stack in one process, on one loop and a segment private to the
// test process: either the minders alone (data, graph, vendor agents, configuration; the
// vendor agents' timers armed) or the whole context started (its REST service on a free
// port, its D-Bus service). Options add a private message bus, the stack's capture and, for
// meshsim's tests (which define MESHSIM_SCENARIOS and link the simulator), a scenario's mesh
// on the same segment. The clock is the manual one; the platform journal is ROOT/journal.jsonl.
#pragma once

#include <gtest/gtest.h>
#include <uv.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/paths.h"
#include "configuration/configuration_minder.h"
#include "core/context.h"
#include "data/data_minder.h"
#include "graph/graph_minder.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/al/stack.h"
#include "map/datamodel/datamodel.h"
#include "nal/ics.h"
#include "nal/nal.h"
#include "platform/map/transport/transport_test_util.h"
#include "rest/rest_minder.h"
#include "rest/rest_service.h"
#include "support/loop.h"
#include "support/private_bus.h"
#include "support/process.h"
#include "support/temp_root.h"
#ifdef MESHSIM_SCENARIOS
#include "scenario.h"
#include "sim.h"
#endif

namespace ozr_test {

struct MeshOptions {
    MeshOptions() = default;
    MeshOptions(uint16_t p, int64_t clock, std::string file)
        : port(p), clock_ms(clock), scenario(std::move(file)) {}
    uint16_t port = 23400;  // the segment's port: tells apart the fixtures of one process
    int64_t clock_ms = 10000000;
    MAC controller = MAC(0x02, 0x6f, 0x7a, 0x72, 0x00, 0x00);
    MAC local = MAC(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x00);  // the gateway's own agent
    bool context = false;  // the whole context started rather than the four minders
    bool bus = false;      // a private message bus (the test is skipped without dbus-daemon)
    bool capture = false;  // the stack's frames in ROOT/ozr.pcap
    std::string platform;  // more members of platform.json, each preceded by ", "
    std::string scenario;  // meshsim's scenario file, "" for none
};

class MeshStack : public ::testing::Test {
  protected:
    explicit MeshStack(MeshOptions o) : opt_(std::move(o)) {}

    void SetUp() override {
        if (opt_.bus) {
            bus_ = std::make_unique<PrivateBus>(root_.dir());
            if (!bus_->ok())
                GTEST_SKIP() << bus_->why();
        }
        ozr_clock::set_manual(opt_.clock_ms);
        ASSERT_TRUE(ozr_make_dirs(ozr_path("/configs/easymesh")));
        journal_ = root_.path("/journal.jsonl");
        std::string platform = "{\"platform-journal-path\": \"" + journal_ + "\"" + opt_.platform;
        if (opt_.context) {
            rest_port_ = free_port();
            platform +=
                ", \"mesh-rest-listen-address\": {\"rest-ipv4\": \"127.0.0.1\", "
                "\"rest-port\": " +
                std::to_string(rest_port_) + "}";
        }
        write_text(nal_platform_json_path(), platform + "}");
        segment_ = private_segment(opt_.port);
        MapStackConfig c;
        c.segment = segment_;
        c.interfaces = {{"ozr0",
                         MAC(opt_.controller[0], opt_.controller[1], opt_.controller[2],
                             opt_.controller[3], opt_.controller[4], 0x01),
                         ""}};
        c.al_mac = opt_.controller;
        c.agent_al_mac = opt_.local;
        if (opt_.capture)
            c.pcap = pcap();
        map_stack_set_config(c);
        ASSERT_EQ(uv_loop_init(&loop_), 0);
        loop_open_ = true;
        std::string error;
        if (map_stack_start(&loop_, &error) != 0)
            GTEST_SKIP() << "the segment transport cannot open here: " << error;
        started_ = true;
        ctx_ = new Context(&loop_);
        if (opt_.context) {
            ASSERT_EQ(ctx_->init().code, 0);
            ctx_->start();
            if (opt_.bus) {
                ASSERT_TRUE(run_until([&] {
                    return log_.text().find("serving on the system bus") != std::string::npos;
                }));
            }
        } else {
            ASSERT_TRUE(ctx_->data_minder->init(*ctx_).ok());
            ASSERT_TRUE(ctx_->graph_minder->init(*ctx_).ok());
            ASSERT_TRUE(ctx_->hkt_mgmt_minder->init(*ctx_).ok());
            ASSERT_TRUE(ctx_->config_minder->init(*ctx_).ok());
            ctx_->hkt_mgmt_minder->run();
        }
#ifdef MESHSIM_SCENARIOS
        if (!opt_.scenario.empty()) {
            meshsim::Scenario s;
            ASSERT_EQ(meshsim::scenario_load(std::string(MESHSIM_SCENARIOS) + "/" + opt_.scenario,
                                             s, &error),
                      0)
                << error;
            meshsim::SimOptions o;
            o.segment = segment_;
            o.run_timeline = false;
            o.autoconfig_retry_ms = 200;
            sim_ = std::make_unique<meshsim::Sim>(std::move(s), o);
            sim_->set_log_sink([this](const std::string& l) { sim_log_.push_back(l); });
            ASSERT_EQ(sim_->start(&loop_, &error), 0) << error;
        }
#endif
    }
    void TearDown() override {
#ifdef MESHSIM_SCENARIOS
        if (sim_)
            sim_->stop();
#endif
        if (ctx_ && opt_.context) {
            map_stack_stop();
            // The REST connections a test opened close before the shutdown's walk.
            if (ctx_->rest_minder && ctx_->rest_minder->service()) {
                ctx_->rest_minder->service()->close();
                for (int i = 0; i < 8; ++i)
                    uv_run(&loop_, UV_RUN_NOWAIT);
            }
            ctx_->shutdown();  // closes every handle and the loop
            loop_open_ = false;
        }
        delete ctx_;
        ctx_ = nullptr;
        if (started_ && !opt_.context)
            map_stack_stop();
        map_datamodel_reset();
        if (loop_open_)
            close_loop(&loop_);
        map_stack_set_config(map_stack_default_config());
        ics_reset();
        ozr_clock::use_real();
    }

    // Runs the loop until DONE() holds (other threads, the bus and the simulator work
    // meanwhile); false after SECONDS.
    bool run_until(const std::function<bool()>& done, int seconds = 10) {
        return run_loop_until(&loop_, done, seconds);
    }
    // Lets the frames in flight arrive.
    void settle() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
        run_until([&] { return std::chrono::steady_clock::now() > end; });
    }
    // Runs F on a client thread (a bus or HTTP client) while the loop serves; its result.
    template <class F>
    auto on_client(F f) -> decltype(f()) {
        return ozr_test::on_client(&loop_, f);
    }
    // The platform journal's lines of CALL.
    std::vector<std::string> journal(const std::string& call) const {
        std::vector<std::string> out;
        for (const std::string& l : lines_of(read_text(journal_)))
            if (l.find("\"call\":\"" + call + "\"") != std::string::npos)
                out.push_back(l);
        return out;
    }
    std::string log() const {
        return log_.text();
    }
    std::string pcap() const {
        return root_.path("/ozr.pcap");
    }
    HktMgmtMinder& hkt() {
        return *ctx_->hkt_mgmt_minder;
    }
    GraphMinder& graph() {
        return *ctx_->graph_minder;
    }

    MeshOptions opt_;
    TempRoot root_;
    LogCapture log_{root_, 7};
    std::unique_ptr<PrivateBus> bus_;
    std::string journal_, segment_;
    int rest_port_ = 0;
    uv_loop_t loop_;
    Context* ctx_ = nullptr;
    bool loop_open_ = false, started_ = false;
#ifdef MESHSIM_SCENARIOS
    std::unique_ptr<meshsim::Sim> sim_;
    std::vector<std::string> sim_log_;
#endif
};

}  // namespace ozr_test
