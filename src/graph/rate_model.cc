#include "graph/rate_model.h"

#include "core/log.h"
#include "graph/backhaul_information.h"

// The constants are given by their exact float bit patterns (hex float literals);
// the decimal values in the comments are only approximate.
const RatePiece kRateModelNew[5] = {
    {130, 220, 0x1.559e22p+0f, 0x1.c5b60ep+9f},  // 1.334444, 907.4223
    {90, 129, 0x1.8051ecp+3f, -0x1.e06668p+8f},  // 12.01, -480.4
    {70, 89, 0x1.8051ecp+4f, -0x1.865334p+10f},  // 24.02, -1561.3
    {52, 69, 0x1.95abcep+2f, -0x1.439a50p+8f},   // 6.338611, -323.60278
    {34, 51, 0x1.559e26p-2f, -0x1.6af808p+3f},   // 0.333611, -11.342777
};

const RatePiece kRateModelOld[3] = {
    {131, 255, 0x1.559e22p+0f, 0x1.c5b60cp+9f},  // 1.3344442, 907.42224
    {80, 130, 0x1.1283a8p+2f, -0x1.be15f0p+7f},  // 4.2892857, -223.04285
    {0, 79, 0x1.3374bep+4f, -0x1.624b86p+10f},   // 19.216002, -1417.18
};

int predict_rate_new(uint8_t rcpi) {
    if (rcpi == 0 || rcpi > 220)
        return 0;
    for (const RatePiece& p : kRateModelNew) {
        if (rcpi < p.rcpi_min || rcpi > p.rcpi_max)
            continue;
        float x = static_cast<float>(rcpi);
        float rate = p.slope * x + p.intercept;
        int r = static_cast<int>(rate);
        return r < 0 ? 0 : r;
    }
    return 0;  // 1..33
}

int predict_rate(uint8_t rcpi, const Logger* log) {
    for (const RatePiece& p : kRateModelOld) {
        if (rcpi < p.rcpi_min || rcpi > p.rcpi_max)
            continue;
        float rate = p.slope * static_cast<float>(rcpi) + p.intercept;
        int r = static_cast<int>(rate);
        if (r < 0) {
            OZR_DEBUG(log,
                      "Negative rate detected predicted_rate={}, slope={}, rcpi={}, "
                      "y_intercept={}",
                      r, p.slope, rcpi, p.intercept);
            return 0;
        }
        return r;
    }
    return 0;
}

uint32_t compute_cost(float rate) {
    if (rate == 0.0f)
        return kUnreachableCost;
    float cost = 100000.0f / rate + 1.0f;
    // Rates below 0.1 Mbps (and NaN, negative) are as good as no link.
    if (!(cost >= 0.0f && cost < static_cast<float>(kUnreachableCost)))
        return kUnreachableCost;
    return static_cast<uint32_t>(cost);
}
