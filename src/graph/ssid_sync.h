// The comparison behind the SSID credential sync: what a vendor agent says its extender
// runs (its enabled VAPs) against what the controller's credential table gives that
// extender's radios in its M2s. Keys are never reported by the extenders, so they are not
// compared (a changed key reaches the agents through the renew that the VAP configuration
// sends); SSID, authentication, encryption and fronthaul/backhaul role are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "graph/device.h"
#include "map/datamodel/datamodel.h"
#include "map/map_config.h"

// One BSS as the sync compares it.
struct SsidCredential {
    std::string ssid;
    uint16_t auth_type = 0;
    uint16_t encr_type = 0;
    uint8_t bss_type = 0;  // bit 0 fronthaul, bit 1 backhaul

    bool operator<(const SsidCredential& o) const;
    bool operator==(const SsidCredential& o) const;
    // "\"ssid\" fronthaul (auth 0x0020 encr 0x0008)", bytes of the SSID outside printable
    // ASCII (and quotes, backslashes) as \xNN; no key in it.
    std::string describe() const;
};

enum class SsidSyncVerdict {
    in_sync,
    differ,
    unknown,  // no radio of the agent with a known band: nothing to compare with
};

struct SsidSyncResult {
    SsidSyncVerdict verdict = SsidSyncVerdict::unknown;
    std::vector<SsidCredential> missing;     // the table gives it, the agent does not run it
    std::vector<SsidCredential> unexpected;  // the agent runs it, the table does not give it
    // "missing ...; unexpected ..." for the log.
    std::string describe() const;
};

// The BSSs that the credential table gives the radios of ALE (what the registrar puts in
// its M2s: every credential serving the radio's band, in table order, at most the radio's
// maximum; 6 GHz radios get only the every-band credentials). Radios whose band is not known
// yet are left out; KNOWN_RADIOS (when not null) counts those that are known.
std::vector<SsidCredential> expected_ssid_credentials(const map_ale_info_t& ale,
                                                      const map_credential_config_t& table,
                                                      size_t* known_radios = nullptr);

// What the agent reports against what it should run, compared as multisets.
SsidSyncResult compare_ssid_credentials(const map_ale_info_t& ale,
                                        const std::vector<HKTVapInfo>& reported,
                                        const map_credential_config_t& table);
