// What the vendor agent registry asks of the configuration minder above it: the
// configuration minder implements it and the assembly hands it to the registry, so that
// the registry knows no configuration code. Without one the calls are skipped.
#pragma once

#include "common/mac.h"

class HktConfigPeer {
  public:
    // Hands an extender's configuration result to the platform; 0, or -1 on failure.
    virtual int inform_hkt_configuration_result(int result, const char* sn, unsigned short len,
                                                const unsigned char* data) = 0;
    // The legacy backhaul VAP with 8-byte credentials on or off at the vendor agent MAC.
    virtual int set_backhaul_vap_enabled_8Byte_ssidpw(const MAC& hkt_mac, bool enabled) = 0;

  protected:
    ~HktConfigPeer() = default;
};
