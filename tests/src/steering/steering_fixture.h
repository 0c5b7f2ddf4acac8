// A steering minder inside a real Context on a manual clock, over a small hand-built mesh:
// the gateway R (2.4 GHz BSS r24 and 5 GHz BSS r5, both "home") and the extender E wired
// to it (5 GHz BSS e5 "home").
#pragma once

#include <gtest/gtest.h>

#include "graph/graph.h"
#include "minder_harness.h"
#include "steering/steering_minder.h"
#include "support/temp_root.h"

namespace steer_test {

struct Ids {
    static const MAC r, e, r_radio24, r_radio5, e_radio5;
    static const BSSID r24, r5, e5;
    static const MAC c1, c2;
};

class SteeringFixture : public ::testing::Test {
  protected:
    void SetUp() override;

    SteeringMinder& sm() { return *h.ctx().steering_minder; }
    Graph& g() { return h.g(); }
    std::string log() const { return h.log(); }
    // A dual-band, BTM-capable client associated to BSSID of DEV with RCPI.
    Sta* client(const MAC& mac, Device* dev, const BSSID& bssid, uint8_t rcpi, Medium medium);
    // Moves the clock by 2 s and runs one tick, N times.
    void ticks(int n);
    Device* r = nullptr;
    Device* e = nullptr;
    minder_test::Harness h;
};

inline size_t count(const std::string& text, const std::string& what) {
    return ozr_test::count_of(text, what);
}

}  // namespace steer_test
