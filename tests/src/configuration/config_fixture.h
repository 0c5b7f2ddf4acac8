// The configuration minder over the daemon's context and the started stack, with scripted
// meshes whose agents listen on the private segment and keep every CMDU the controller
// sends them.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "../hkt/hkt_fixture.h"
#include "configuration/radio_bands.h"
#include "map/datamodel/opclass_table.h"
#include "map/map_config.h"
#include "nal/ics.h"

namespace config_test {

using namespace hkt_test;

inline MAC radio_of(const MAC& agent, uint8_t band) {
    return mac(agent[4], band);
}

// An agent on the segment keeps every CMDU the controller sends it.
using Agent = Peer;

// The first record of type T in C, or null.
template <class T>
inline const T* find_tlv(const CMDU* c) {
    for (uint8_t** p = c->list_of_TLVs; p && *p; ++p)
        if (const T* t = tlv_cast<T>(*p))
            return t;
    return nullptr;
}

// The one channel (centre channel for wide classes) the preference TLV leaves operable:
// the channel its only listed class does not list.
inline int operable_channel(const channel_preference_tlv& pref) {
    for (const auto& oc : pref.op_classes) {
        if (oc.channels.empty())
            continue;  // the whole class is non-operable
        const map_dm::OpClassDef* def = map_dm::find_op_class(oc.op_class);
        if (def == nullptr)
            return -1;
        uint8_t all[64];
        const int n = map_dm::global_op_class_channels(*def, all, 64);
        for (int i = 0; i < n; ++i)
            if (std::find(oc.channels.begin(), oc.channels.end(), all[i]) == oc.channels.end())
                return all[i];
    }
    return -1;
}

class ConfigFixture : public HktFixture {
  protected:
    void SetUp() override {
        ics_reset();
        map_config_reset();
        HktFixture::SetUp();
    }
    ConfigurationMinder& cfg() { return *ctx_->config_minder; }
    void TearDown() override {
        ics_reset();
        map_config_reset();
        HktFixture::TearDown();
    }
    Agent& listen(const MAC& al) { return peer(al); }
    // A 2.4 GHz and a whole 5 GHz radio for AGENT.
    void radios(const MAC& agent) {
        map_ale_info_t* ale = map_update_ale(agent);
        ASSERT_NE(ale, nullptr);
        map_update_ale_iface_name(ale, "ozr0");
        map_radio_info_t* r2 = map_update_radio(ale, radio_of(agent, 0x10));
        const map_op_class_param_t c81{81, 0, 0, nullptr};
        ASSERT_EQ(map_update_radio_basic_caps(r2, 2, &c81, 1), 0);
        map_radio_info_t* r5 = map_update_radio(ale, radio_of(agent, 0x20));
        const map_op_class_param_t c5[] = {{115, 0, 0, nullptr}, {118, 0, 0, nullptr},
                                           {121, 0, 0, nullptr}, {125, 0, 0, nullptr},
                                           {128, 0, 0, nullptr}, {129, 0, 0, nullptr}};
        ASSERT_EQ(map_update_radio_basic_caps(r5, 2, c5, 6), 0);
        ASSERT_EQ(r5->band_mask, 0x80);
    }
    // The gateway's agent, EXT and PLAIN under it, FAR behind EXT; EXT and FAR are the
    // maker's extenders EX1 and EX3.
    void mesh() {
        Peer& near = peer(kExtHkt);
        Peer& far = peer(kFarHkt);
        ASSERT_NE(online_node(near, "EX1", kExt), nullptr);
        ASSERT_NE(online_node(far, "EX3", kFar), nullptr);
        tree();
        for (const MAC& a : {kLocal, kExt, kFar, kPlain})
            radios(a);
    }
    ozr_channel_configuration_t request(const std::string& sn, frequent_band_type band, uint8_t ch,
                                        uint8_t bw) {
        return ozr_channel_configuration_t{sn, band, ch, bw, 0, 0, 0, 0, 0, 0};
    }
    size_t requests(Agent& a) const { return a.of(CMDU_TYPE_CHANNEL_SELECTION_REQUEST).size(); }
};

}  // namespace config_test
