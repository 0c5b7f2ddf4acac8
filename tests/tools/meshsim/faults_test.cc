// The fault layer on its own: which keys win, that a seed repeats a run, delays and
// duplicates, and that what it holds back is bounded. Time is given by the test.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "faults.h"
#include "scenario.h"

using meshsim::FaultDir;
using meshsim::FaultGate;
using meshsim::FaultSpec;
using meshsim::FaultWay;

namespace {

// A frame whose first destination byte says multicast or unicast, numbered N.
std::vector<uint8_t> frame(bool multicast, uint32_t n, size_t len = 64) {
    std::vector<uint8_t> f(len, 0);
    f[0] = multicast ? 0x01 : 0x02;
    for (int i = 0; i < 4; ++i)
        f[6 + i] = static_cast<uint8_t>(n >> (24 - 8 * i));
    return f;
}
uint32_t number(const uint8_t* f) {
    return uint32_t(f[6]) << 24 | uint32_t(f[7]) << 16 | uint32_t(f[8]) << 8 | f[9];
}

// What a gate delivered: (endpoint, frame number), in order.
struct Sink {
    std::vector<std::pair<size_t, uint32_t>> got;
    FaultGate::Deliver fn() {
        return [this](size_t e, FaultWay, const uint8_t* f, size_t) {
            got.push_back({e, number(f)});
        };
    }
};

}  // namespace

TEST(MeshsimFaults, TheMostSpecificKeyWins) {
    struct Case {
        const char* json;
        FaultWay way;
        double multicast, unicast;
        long long delay;
    } cases[] = {
        {R"({"loss": 0.1})", FaultWay::to_agents, 0.1, 0.1, 0},
        {R"({"loss": 0.1, "multicast_loss": 0.2})", FaultWay::from_agents, 0.2, 0.1, 0},
        // A way's own block replaces the common keys for that way only.
        {R"({"multicast_loss": 0.2, "to_agents": {"loss": 0.05}, "delay_ms": 30})",
         FaultWay::to_agents, 0.05, 0.05, 30},
        {R"({"multicast_loss": 0.2, "to_agents": {"loss": 0.05}, "delay_ms": 30})",
         FaultWay::from_agents, 0.2, 0, 30},
        {R"({"from_agents": {"unicast_loss": 1, "delay_ms": 500, "jitter_ms": 1500}})",
         FaultWay::from_agents, 0, 1, 500},
    };
    for (const Case& c : cases) {
        FaultSpec f;
        std::string error;
        ASSERT_EQ(meshsim::faults_parse(c.json, f, nullptr, nullptr, &error), 0) << error;
        const FaultDir d = f.resolve(c.way);
        EXPECT_DOUBLE_EQ(d.multicast_loss, c.multicast) << c.json;
        EXPECT_DOUBLE_EQ(d.unicast_loss, c.unicast) << c.json;
        EXPECT_EQ(d.delay_ms, c.delay) << c.json;
    }
    // The command line's keys replace the scenario's one by one; a seed comes along.
    FaultSpec scenario, cli;
    uint64_t seed = 1;
    bool seed_set = false;
    std::string error;
    ASSERT_EQ(meshsim::faults_parse(R"({"loss": 0.3, "reorder": 0.1})", scenario, nullptr, nullptr,
                                    &error),
              0);
    ASSERT_EQ(meshsim::faults_parse(R"({"loss": 0.05, "seed": 9})", cli, &seed, &seed_set, &error),
              0);
    scenario.merge(cli);
    EXPECT_DOUBLE_EQ(scenario.resolve(FaultWay::to_agents).unicast_loss, 0.05);
    EXPECT_DOUBLE_EQ(scenario.resolve(FaultWay::to_agents).reorder, 0.1);
    EXPECT_EQ(std::make_tuple(seed_set, seed), std::make_tuple(true, 9u));
    EXPECT_EQ(meshsim::faults_parse(R"({"loss": 2})", cli, nullptr, nullptr, &error), -1);
    EXPECT_EQ(error, "\"faults.loss\": expected a ratio from 0 to 1, got 2");
    // Hops compound: two links of 10 % lose 19 %.
    FaultDir a, b;
    a.unicast_loss = b.unicast_loss = 0.1;
    a.delay_ms = 20;
    b.delay_ms = 30;
    a.then(b);
    EXPECT_NEAR(a.unicast_loss, 0.19, 1e-12);
    EXPECT_EQ(a.delay_ms, 50);
}

TEST(MeshsimFaults, ASeedRepeatsTheRunAndEachWayDrawsOnItsOwn) {
    FaultDir f;
    f.multicast_loss = f.unicast_loss = 0.3;
    f.duplicate = 0.1;
    auto run = [&](uint64_t seed, bool other_traffic) {
        Sink sink;
        FaultGate gate(seed, sink.fn());
        for (uint32_t k = 0; k < 500; ++k) {
            const auto fr = frame(false, k);
            gate.pass(3, FaultWay::to_agents, f, fr.data(), fr.size(), 0);
            // Another agent's frames between them change nothing for agent 3.
            if (other_traffic)
                gate.pass(4, FaultWay::to_agents, f, fr.data(), fr.size(), 0);
        }
        std::vector<uint32_t> mine;
        for (const auto& g : sink.got)
            if (g.first == 3)
                mine.push_back(g.second);
        return mine;
    };
    EXPECT_EQ(run(42, false), run(42, false));
    EXPECT_EQ(run(42, false), run(42, true));
    EXPECT_NE(run(42, false), run(43, false));
}

TEST(MeshsimFaults, DelayJitterDuplicationAndReordering) {
    struct Case {
        const char* what;
        long long delay, jitter;
        double duplicate, reorder;
        std::vector<uint32_t> order;  // frame numbers as delivered once all is released
        long long first_at;           // nothing comes before (ms after the first pass)
    } cases[] = {
        {"delay", 50, 0, 0, 0, {0, 1, 2, 3}, 50},
        {"jitter keeps the order", 10, 200, 0, 0, {0, 1, 2, 3}, 10},
        {"duplicate", 0, 0, 1, 0, {0, 0, 1, 1, 2, 2, 3, 3}, 0},
        {"reorder", 0, 0, 0, 1, {1, 0, 3, 2}, 0},
    };
    for (const Case& c : cases) {
        Sink sink;
        FaultGate gate(1, sink.fn());
        FaultDir f;
        f.delay_ms = c.delay;
        f.jitter_ms = c.jitter;
        f.duplicate = c.duplicate;
        f.reorder = c.reorder;
        for (uint32_t k = 0; k < 4; ++k) {
            const auto fr = frame(false, k);
            gate.pass(0, FaultWay::to_agents, f, fr.data(), fr.size(), 1000 + k);
        }
        long long now = 1000;
        long long first = -1;
        for (; now < 2000 && (gate.held_frames() > 0 || first < 0); ++now) {
            gate.release(now);
            if (first < 0 && !sink.got.empty())
                first = now - 1000;
        }
        std::vector<uint32_t> order;
        for (const auto& g : sink.got)
            order.push_back(g.second);
        EXPECT_EQ(order, c.order) << c.what;
        EXPECT_GE(first, c.first_at) << c.what;
        EXPECT_EQ(std::make_tuple(gate.held_frames(), gate.held_bytes()), std::make_tuple(0u, 0u))
            << c.what;
    }
}

TEST(MeshsimFaults, WhatIsHeldBackIsBounded) {
    Sink sink;
    FaultGate gate(1, sink.fn());
    FaultDir f;
    f.delay_ms = 60000;
    for (uint32_t k = 0; k < meshsim::kMaxHeldFrames + 10; ++k) {
        const auto fr = frame(false, k);
        gate.pass(0, FaultWay::from_agents, f, fr.data(), fr.size(), 0);
    }
    EXPECT_EQ(gate.held_frames(), meshsim::kMaxHeldFrames);
    EXPECT_EQ(gate.stats().overflow, 10u);
    gate.clear();
    // Large frames reach the byte bound first.
    const auto big = frame(false, 1, 1518);
    for (size_t k = 0; k < meshsim::kMaxHeldBytes / 1518 + 5; ++k)
        gate.pass(1, FaultWay::to_agents, f, big.data(), big.size(), 0);
    EXPECT_LE(gate.held_bytes(), meshsim::kMaxHeldBytes);
    EXPECT_EQ(gate.stats().overflow, 15u);
    gate.release(60000);
    EXPECT_EQ(gate.held_frames(), 0u);
    EXPECT_TRUE(sink.got.size() > 2000u);
}
