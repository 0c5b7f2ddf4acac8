// Throughput predicted from RCPI and the cost of a hop carrying it.
#pragma once

#include <cstdint>

class Logger;

// One linear piece: rate = slope * rcpi + intercept over [rcpi_min, rcpi_max].
struct RatePiece {
    uint8_t rcpi_min;
    uint8_t rcpi_max;
    float slope;
    float intercept;
};

// The current model (used by every link cost), highest RCPI range first; RCPI 1..33
// predicts 0.
extern const RatePiece kRateModelNew[5];
// The earlier model (only logged as the predicted rate of unassociated measurements).
extern const RatePiece kRateModelOld[3];

// Mbps; 0 for RCPI 0 (no measurement) and above 220 (reserved values).
int predict_rate_new(uint8_t rcpi);
// Mbps by the earlier model; a negative prediction is logged on LOG (debug) and gives 0.
int predict_rate(uint8_t rcpi, const Logger* log = nullptr);
// 1000000 (unreachable) for a rate of 0, else trunc(100000 / rate + 1).
uint32_t compute_cost(float rate);
