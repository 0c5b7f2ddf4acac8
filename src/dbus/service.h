// The D-Bus service: names, match rules and the service thread's entry point.
#pragma once

#include <cstddef>

// The ten match rules, in registration order (removed in the same order on tear-down).
constexpr size_t kOzrMatchRuleCount = 10;
extern const char* const kOzrMatchRules[kOzrMatchRuleCount];
// The nine methods of "vexal.ozr.application", in the service descriptor's order.
constexpr size_t kOzrMethodCount = 9;
extern const char* const kOzrMethodNames[kOzrMethodCount];

// The service thread's work: owns "vexal.ozrd", registers the methods and the matches, then
// serves until the bridge shuts down or the bus is lost. Non-zero when registration failed
// (logged fatal: "failed to request bus name for ozrd service", "failed to register
// VexalOzrApplication interface", "failed to register ozrd service").
int start_ozrd_service();
