// The enrollee side of the WSC exchange, one per simulated radio: a fresh
// Diffie-Hellman key pair and nonce for every M1, and the checks an agent
// makes on the controller's M2s (same enrollee nonce, Authenticator over
// M1 | M2, Encrypted Settings with their Key Wrap Authenticator) before it
// takes the settings. A scenario fault makes the exchange fail on purpose.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "map/wsc/wsc_messages.h"
#include "scenario.h"

namespace meshsim {

// What one AP-Autoconfiguration WSC message did to a radio.
struct WscResult {
    enum Kind { configured, teardown, failed } kind = failed;
    std::vector<WscBssConfig> bsss;  // configured: one per M2, in order
    std::string why;                 // failed: the first check that failed
};

class WscEnrollee {
  public:
    // A new M1 for RADIO of AGENT: new key pair, new nonce. Empty when the
    // key pair cannot be made.
    std::vector<uint8_t> make_m1(const AgentConf& agent, const RadioConf& radio);
    // The M2s (WSC TLV contents, in order) of one message for this radio.
    WscResult open(const std::vector<std::vector<uint8_t>>& m2s, WscFault fault) const;
    bool has_m1() const { return key_ != nullptr; }

  private:
    std::unique_ptr<WscDhKey> key_;
    std::vector<uint8_t> m1_;
};

}  // namespace meshsim
